#include "tools/publish/signing/statement_expiry.h"

#include <ctime>

namespace {

// Ten years: a longer validity is no expiry, and the option would only hide that.
const int64_t kLongestDays = 3650;

}  // namespace

bool StatementExpiry::Read(const std::string& option, const std::string& value, std::string& problem) {
    if (kind != Kind::None) {
        problem = "give --expires-in or --expires-at once";
        return false;
    }
    if (option == "--expires-in") {
        int64_t number = 0;
        bool digits = !value.empty() && value.size() <= 4;
        for (char c : value) {
            digits = digits && c >= '0' && c <= '9';
            if (digits) number = number * 10 + (c - '0');
        }
        if (!digits || number < 1 || number > kLongestDays) {
            problem = "--expires-in wants whole days from 1 to " + std::to_string(kLongestDays) + ", not '" + value + "'";
            return false;
        }
        kind = Kind::InDays;
        days = number;
        return true;
    }
    if (!ParseStatementTime(value, at)) {
        problem = "--expires-at wants a UTC time such as 2030-12-31T23:59:59Z, not '" + value + "'";
        return false;
    }
    kind = Kind::At;
    return true;
}

void StatementExpiry::Apply(ReleaseStatement& statement, int64_t now) const {
    statement.hasExpiry = kind != Kind::None;
    statement.expires = kind == Kind::At ? at : kind == Kind::InDays ? now + days * 86400 : 0;
}

bool StatementExpiry::Keeps(const ReleaseStatement& statement, int64_t now) const {
    switch (kind) {
        case Kind::None:
            return !statement.hasExpiry;
        case Kind::At:
            return statement.hasExpiry && statement.expires == at;
        case Kind::InDays:
            return statement.hasExpiry && statement.expires > now && statement.expires <= now + days * 86400;
    }
    return false;
}

int64_t StatementClockNow() { return static_cast<int64_t>(std::time(nullptr)); }

std::string ExpiryWarning(const ReleaseStatement& statement, int64_t now) {
    if (!statement.hasExpiry) return std::string();
    const std::string expiry = FormatStatementTime(statement.expires);
    const std::string refused = FormatStatementTime(statement.expires + kStatementGraceSeconds);
    if (StatementExpired(statement, now)) {
        return "the statement expired at " + expiry + ": patchers built with the key refuse it, and so every "
               "update, since " + refused;
    }
    const std::string unless = " unless the release is signed again (vorlen-publish resign)";
    if (statement.expires <= now) {
        return "the statement expired at " + expiry + ": patchers built with the key take it until " + refused +
               " and refuse every update after that" + unless;
    }
    if (statement.expires < now + 86400) {
        return "the statement expires at " + expiry + ": patchers built with the key refuse every update from " +
               refused + unless;
    }
    return std::string();
}
