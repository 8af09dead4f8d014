#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/release_statement.h"
#include "engine/signing_keys.h"

enum class ReleaseVerdict {
    Accepted,
    Malformed,  // not a statement at all
    Unsigned,   // no signature by one of our keys verifies
    Older,      // below the highest release accepted before
    Expired,    // more than a day past its expiry
};

struct ReleaseCheck {
    ReleaseVerdict verdict = ReleaseVerdict::Malformed;
    ReleaseStatement statement;  // as read, whenever it could be read
    std::string keyId;           // the key that signed it, once verified
};

// Whether a keyed patcher takes the statement: signed by one of `keys`, a
// release number not below `floor` (the highest accepted before), and `now`
// (seconds since 1970, UTC) no more than a day past its expiry.
ReleaseCheck CheckReleaseStatement(const std::string& text, const std::vector<PublisherKey>& keys, uint64_t floor,
                                   int64_t now);

// True when `bytes` are what a statement signed: its size, then its SHA-256.
bool MatchesSignedBytes(const std::string& bytes, const std::string& sha256, uint64_t size);
