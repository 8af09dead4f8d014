#include "base/release_statement.h"

#include <cstdio>
#include <set>

#include "base/base64.h"
#include "base/hex.h"
#include "base/names_and_limits.h"

namespace {

// "EC public key on P-256, uncompressed point": what precedes X‖Y in the DER
// SubjectPublicKeyInfo of every P-256 key.
const unsigned char kP256SpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
const size_t kP256PointBytes = 64;

const int64_t kLatestTime = 253402300799;  // 9999-12-31T23:59:59Z

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal, no sign, no leading zero, no more than `largest`.
bool ParseNumber(const std::string& text, uint64_t largest, uint64_t& value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (UINT64_MAX - digit) / 10) return false;
        result = result * 10 + digit;
    }
    if (result > largest) return false;
    value = result;
    return true;
}

bool ParseDigest(const std::string& text, std::string& digest) {
    if (text.size() != 2 * kStatementDigestBytes) return false;
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        int pair = 0;
        for (size_t k = 0; k < 2; ++k) {
            const char c = text[i + k];
            int nibble;
            if (IsDigit(c)) nibble = c - '0';
            else if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
            else return false;
            pair = pair * 16 + nibble;
        }
        bytes += static_cast<char>(pair);
    }
    digest.swap(bytes);
    return true;
}

std::string DigestText(const std::string& digest) {
    return ToHex(reinterpret_cast<const unsigned char*>(digest.data()), digest.size());
}

bool IsVersionText(const std::string& text) {
    if (text.empty() || text.size() > kLongestSignedVersion) return false;
    for (char c : text) {
        if (c < 0x21 || c > 0x7E) return false;
    }
    return true;
}

bool IsKeyId(const std::string& text) {
    if (text.size() != 2 * kKeyIdBytes) return false;
    for (char c : text) {
        if (!IsDigit(c) && !(c >= 'a' && c <= 'f')) return false;
    }
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = year / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

unsigned DaysInMonth(int64_t year, unsigned month) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The statement's lines, one after another; each field is "<name> <value>".
class LineReader {
public:
    explicit LineReader(const std::string& text) : text(text) {}

    bool AtEnd() const { return next >= text.size(); }
    size_t Offset() const { return next; }

    // The value of the next line when it names `name`; the line is then used up.
    bool Take(const char* name, std::string& value) {
        if (AtEnd()) return false;
        const size_t end = text.find('\n', next);
        const std::string line = text.substr(next, end - next);
        const std::string prefix = std::string(name) + " ";
        if (line.compare(0, prefix.size(), prefix) != 0) return false;
        value = line.substr(prefix.size());
        next = end + 1;
        return true;
    }

    // The name of the next line, for a message.
    std::string NextName() const {
        const size_t end = text.find_first_of(" \n", next);
        return text.substr(next, end - next);
    }

private:
    const std::string& text;
    size_t next = 0;
};

bool Fail(std::string& problem, const std::string& why) {
    problem = why;
    return false;
}

}  // namespace

bool ParseReleaseStatement(const std::string& text, ReleaseStatement& statement, std::string& problem) {
    problem.clear();
    if (text.size() > kLargestReleaseStatement) {
        return Fail(problem, "the statement is larger than " + std::to_string(kLargestReleaseStatement) + " bytes");
    }
    if (text.empty() || text.back() != '\n') return Fail(problem, "the statement does not end with a line feed");
    if (text.find('\r') != std::string::npos) return Fail(problem, "the statement holds a carriage return");
    if (text.find("\n\n") != std::string::npos || text[0] == '\n') {
        return Fail(problem, "the statement holds an empty line");
    }

    ReleaseStatement read;
    LineReader lines(text);
    std::string value;
    if (!lines.Take("vorlen-release", value) || value != "1") {
        return Fail(problem, "the statement does not begin with the line \"vorlen-release 1\"");
    }
    if (!lines.Take("release", value)) return Fail(problem, "the second line is not \"release N\"");
    if (!ParseNumber(value, UINT64_MAX, read.release) || read.release == 0) {
        return Fail(problem, "the release number is not a whole number from 1 to 18446744073709551615");
    }
    if (lines.Take("expires", value)) {
        read.hasExpiry = true;
        if (!ParseStatementTime(value, read.expires)) {
            return Fail(problem, "the expiry is not a UTC time such as 2026-12-31T23:59:59Z");
        }
    }
    if (!lines.Take("list-sha256", value) || !ParseDigest(value, read.listSha256)) {
        return Fail(problem, "no \"list-sha256\" line with 64 lower-case hex digits where it belongs");
    }
    if (!lines.Take("list-size", value) || !ParseNumber(value, kLargestServerText, read.listSize)) {
        return Fail(problem, "no \"list-size\" line with a size up to " + std::to_string(kLargestServerText) +
                                 " bytes where it belongs");
    }
    if (lines.Take("patcher-version", value)) {
        read.hasPatcher = true;
        read.patcherVersion = value;
        if (!IsVersionText(value)) {
            return Fail(problem, "the patcher version is not 1 to " + std::to_string(kLongestSignedVersion) +
                                     " printable ASCII characters without blanks");
        }
        if (!lines.Take("patcher-sha256", value) || !ParseDigest(value, read.patcherSha256)) {
            return Fail(problem, "no \"patcher-sha256\" line with 64 lower-case hex digits after the patcher version");
        }
        if (!lines.Take("patcher-size", value) || !ParseNumber(value, kLargestListedSize, read.patcherSize) ||
            read.patcherSize == 0) {
            return Fail(problem, "no \"patcher-size\" line with a size from 1 to " +
                                     std::to_string(kLargestListedSize) + " bytes after the patcher's digest");
        }
    }
    std::set<std::string> keys;
    while (lines.Take("signature", value)) {
        const size_t blank = value.find(' ');
        StatementSignature signature;
        signature.keyId = value.substr(0, blank);
        if (blank == std::string::npos || !IsKeyId(signature.keyId) ||
            !DecodeBase64(value.substr(blank + 1), signature.signature) ||
            signature.signature.size() != kStatementSignatureBytes) {
            return Fail(problem, "a signature line is not \"signature <16 hex digits> <base64 of 64 bytes>\"");
        }
        if (!keys.insert(signature.keyId).second) {
            return Fail(problem, "key " + signature.keyId + " signs the statement twice");
        }
        read.signatures.push_back(signature);
    }
    if (!lines.AtEnd()) {
        return Fail(problem, "the line \"" + lines.NextName() + "\" is unknown, repeated or out of place");
    }
    if (read.signatures.empty()) return Fail(problem, "the statement has no signature");
    statement = read;
    return true;
}

std::string StatementFieldProblem(const ReleaseStatement& statement) {
    if (statement.release == 0) return "the release number is 0";
    if (statement.hasExpiry && (statement.expires < 0 || statement.expires > kLatestTime)) {
        return "the expiry is outside the years 1970 to 9999";
    }
    if (statement.listSha256.size() != kStatementDigestBytes) return "the list's digest is not 32 bytes";
    if (statement.listSize > kLargestServerText) return "the list is larger than the patcher reads";
    if (statement.hasPatcher) {
        if (!IsVersionText(statement.patcherVersion)) {
            return "the patcher version is not 1 to " + std::to_string(kLongestSignedVersion) +
                   " printable ASCII characters without blanks";
        }
        if (statement.patcherSha256.size() != kStatementDigestBytes) return "the patcher's digest is not 32 bytes";
        if (statement.patcherSize == 0 || statement.patcherSize > kLargestListedSize) {
            return "the patcher's size is 0 or not below 4 GiB";
        }
    }
    return "";
}

std::string StatementUnsignedText(const ReleaseStatement& statement) {
    std::string text = "vorlen-release 1\nrelease " + std::to_string(statement.release) + "\n";
    if (statement.hasExpiry) text += "expires " + FormatStatementTime(statement.expires) + "\n";
    text += "list-sha256 " + DigestText(statement.listSha256) + "\n";
    text += "list-size " + std::to_string(statement.listSize) + "\n";
    if (statement.hasPatcher) {
        text += "patcher-version " + statement.patcherVersion + "\n";
        text += "patcher-sha256 " + DigestText(statement.patcherSha256) + "\n";
        text += "patcher-size " + std::to_string(statement.patcherSize) + "\n";
    }
    return text;
}

std::string StatementSignedBytes(const ReleaseStatement& statement) {
    return kStatementContext + StatementUnsignedText(statement);
}

std::string SerializeReleaseStatement(const ReleaseStatement& statement) {
    std::string text = StatementUnsignedText(statement);
    for (const StatementSignature& signature : statement.signatures) {
        text += "signature " + signature.keyId + " " + EncodeBase64(signature.signature) + "\n";
    }
    return text;
}

std::string FormatStatementTime(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    if (seconds > kLatestTime) seconds = kLatestTime;
    const int64_t days = seconds / 86400;
    const int64_t inDay = seconds % 86400;
    // Civil date from days since 1970-01-01 (the inverse of DaysFromCivil).
    const int64_t shifted = days + 719468;
    const int64_t era = shifted / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(shifted - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(year), month, day,
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay % 3600 / 60), static_cast<int>(inDay % 60));
    return text;
}

bool ParseStatementTime(const std::string& text, int64_t& seconds) {
    // YYYY-MM-DDTHH:MM:SSZ
    static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] == 'd' ? !IsDigit(text[i]) : text[i] != kShape[i]) return false;
    }
    auto number = [&](size_t at, size_t length) {
        unsigned value = 0;
        for (size_t i = at; i < at + length; ++i) value = value * 10 + static_cast<unsigned>(text[i] - '0');
        return value;
    };
    const unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return false;
    }
    seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string P256SubjectPublicKeyInfo(const std::string& point) {
    if (point.size() != kP256PointBytes) return std::string();
    return std::string(reinterpret_cast<const char*>(kP256SpkiPrefix), sizeof kP256SpkiPrefix) + point;
}

std::string StatementKeyId(const std::string& subjectPublicKeyInfoSha256) {
    if (subjectPublicKeyInfoSha256.size() < kKeyIdBytes) return std::string();
    return ToHex(reinterpret_cast<const unsigned char*>(subjectPublicKeyInfoSha256.data()), kKeyIdBytes);
}

bool ParseReleaseNumber(const std::string& text, uint64_t& value) { return ParseNumber(text, UINT64_MAX, value); }

bool StatementExpired(const ReleaseStatement& statement, int64_t now) {
    return statement.hasExpiry && now > statement.expires + kStatementGraceSeconds;
}
