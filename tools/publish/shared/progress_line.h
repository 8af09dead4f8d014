#pragma once

#include <chrono>
#include <ostream>
#include <string>

// A progress report on one terminal line, rewritten in place. Disabled, it
// writes nothing, so callers need not ask whether anyone is watching.
class ProgressLine {
public:
    ProgressLine(std::ostream& stream, bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Shows `text` unless a line went out less than a fifth of a second ago;
    // `now` forces it.
    void Show(const std::string& text, bool now = false);
    // Blanks the line, before other output to the same terminal and at the end.
    void Clear();

private:
    std::ostream& stream;
    bool enabled;
    size_t shownLength = 0;
    std::chrono::steady_clock::time_point lastShown;
};
