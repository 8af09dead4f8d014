#include "engine/release_check.h"

#include "engine/release_signature.h"

ReleaseCheck CheckReleaseStatement(const std::string& text, const std::vector<PublisherKey>& keys, uint64_t floor,
                                   int64_t now) {
    ReleaseCheck check;
    std::string problem;
    if (!ParseReleaseStatement(text, check.statement, problem)) {
        check.statement = ReleaseStatement();
        return check;
    }
    check.keyId = StatementSignedBy(check.statement, keys);
    if (check.keyId.empty()) {
        check.verdict = ReleaseVerdict::Unsigned;
    } else if (check.statement.release < floor) {
        check.verdict = ReleaseVerdict::Older;
    } else if (StatementExpired(check.statement, now)) {
        check.verdict = ReleaseVerdict::Expired;
    } else {
        check.verdict = ReleaseVerdict::Accepted;
    }
    return check;
}

bool MatchesSignedBytes(const std::string& bytes, const std::string& sha256, uint64_t size) {
    return bytes.size() == size && Sha256OfBytes(bytes) == sha256 && !sha256.empty();
}
