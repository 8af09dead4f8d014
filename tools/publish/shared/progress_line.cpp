#include "tools/publish/shared/progress_line.h"

namespace {

const auto kShortestInterval = std::chrono::milliseconds(200);

}  // namespace

ProgressLine::ProgressLine(std::ostream& stream, bool enabled) : stream(stream), enabled(enabled) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Show(const std::string& text, bool now) {
    if (!enabled) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && shownLength > 0 && time - lastShown < kShortestInterval) return;
    lastShown = time;
    // Blanks cover what is left of a longer previous line; no terminal escape
    // codes, so a Windows console shows it too.
    std::string line = "\r" + text;
    if (text.size() < shownLength) line += std::string(shownLength - text.size(), ' ');
    stream << line << std::flush;
    shownLength = text.size();
}

void ProgressLine::Clear() {
    if (!enabled || shownLength == 0) return;
    stream << '\r' << std::string(shownLength, ' ') << '\r' << std::flush;
    shownLength = 0;
}
