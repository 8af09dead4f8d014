#pragma once

#include <cstdint>
#include <string>

#include "base/release_statement.h"

// When a release statement stops being accepted, as the operator asked for it:
// no expiry, so many days after signing (--expires-in), or at a given UTC time
// (--expires-at). Patchers take a statement until a day past its expiry.
class StatementExpiry {
public:
    // Reads --expires-in DAYS or --expires-at UTC; false with a problem for a bad
    // value, or when both are given.
    bool Read(const std::string& option, const std::string& value, std::string& problem);
    bool Given() const { return kind != Kind::None; }

    // Sets (or clears) the expiry of a statement signed at `now`.
    void Apply(ReleaseStatement& statement, int64_t now) const;
    // An unchanged release's statement already expires as asked: no expiry for
    // none, the same time for --expires-at, and for --expires-in one that has not
    // passed and is no later than the days from now (it was set by an earlier
    // publish with those days; `resign` moves it on).
    bool Keeps(const ReleaseStatement& statement, int64_t now) const;

private:
    enum class Kind { None, InDays, At };
    Kind kind = Kind::None;
    int64_t days = 0;
    int64_t at = 0;
};

// Seconds since 1970 now, as the statement counts them.
int64_t StatementClockNow();

// A warning for an expiry that has passed or is within a day, or empty.
std::string ExpiryWarning(const ReleaseStatement& statement, int64_t now);
