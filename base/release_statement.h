#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The statement a signed release is published with (the list's name plus
// ".sig"): what the release is, as UTF-8 lines that each end in LF, always in
// this order, each at most once:
//
//   vorlen-release 1
//   release 42
//   expires 2026-12-31T23:59:59Z           (optional; UTC)
//   list-sha256 <64 lower-case hex digits>
//   list-size 6903817
//   patcher-version 1.0.6.0                 (these three together, or none:
//   patcher-sha256 <64 lower-case hex digits>    a release that publishes
//   patcher-size 4194304                         the patcher's executable)
//   signature <key id> <base64 of the 64-byte r‖s>   (one line per key, at least one)
//
// Numbers are decimal without sign or leading zeros. A signature is ECDSA P-256
// over the SHA-256 of the signed bytes: kStatementContext followed by every line
// before the first signature line, exactly as written. A key id is the first 8
// bytes, in hex, of the SHA-256 of the key's DER SubjectPublicKeyInfo.
// SHA-256 itself comes from the platform (CNG in the patcher, OpenSSL in the
// publishing tool): these functions take and give digests, never compute them.

// Sets the signed bytes apart from anything else a key might ever sign.
constexpr char kStatementContext[] = "vorlen release statement v1\n";
constexpr size_t kStatementDigestBytes = 32;   // SHA-256
constexpr size_t kStatementSignatureBytes = 64;  // r‖s
constexpr size_t kKeyIdBytes = 8;
// The longest version text a statement carries; printable ASCII without blanks.
constexpr size_t kLongestSignedVersion = 64;
// A statement is taken for a day past its expiry: a player's clock that runs
// ahead must not stop the game before the operator's own has.
constexpr int64_t kStatementGraceSeconds = 24 * 60 * 60;

struct StatementSignature {
    std::string keyId;      // 16 lower-case hex digits
    std::string signature;  // 64 bytes, r‖s
};

struct ReleaseStatement {
    uint64_t release = 0;
    bool hasExpiry = false;
    int64_t expires = 0;  // seconds since 1970-01-01T00:00:00Z
    std::string listSha256;  // 32 bytes
    uint64_t listSize = 0;
    bool hasPatcher = false;
    std::string patcherVersion;
    std::string patcherSha256;  // 32 bytes
    uint64_t patcherSize = 0;
    std::vector<StatementSignature> signatures;
};

// The whole text, signatures included; false with a reason (English, for the
// publishing tool's messages) for anything but the one form above: an unknown,
// repeated, missing or misplaced line, a number out of range, a CR, a text over
// kLargestReleaseStatement, no signature or two by one key.
bool ParseReleaseStatement(const std::string& text, ReleaseStatement& statement, std::string& problem);

// Why the fields cannot be written, or empty: each number, digest, version and
// time as the parser takes it. Signatures are not looked at.
std::string StatementFieldProblem(const ReleaseStatement& statement);

// The lines before the signatures, for fields StatementFieldProblem accepts.
std::string StatementUnsignedText(const ReleaseStatement& statement);
// What each signature covers: kStatementContext and the lines before the signatures.
std::string StatementSignedBytes(const ReleaseStatement& statement);
// The unsigned text followed by one line per signature, in their order.
std::string SerializeReleaseStatement(const ReleaseStatement& statement);

// True when the statement has an expiry and `now` (seconds since 1970, UTC) is
// more than kStatementGraceSeconds past it: patchers then refuse it.
bool StatementExpired(const ReleaseStatement& statement, int64_t now);

// A release number as the statement writes it: decimal, no sign, no leading
// zero, 64 bits (0 included; a statement's own release is never 0).
bool ParseReleaseNumber(const std::string& text, uint64_t& value);

// "2026-12-31T23:59:59Z" from seconds since 1970 (years 1970 to 9999), and back;
// the parser takes only that exact form, with a real date and no leap second.
std::string FormatStatementTime(int64_t seconds);
bool ParseStatementTime(const std::string& text, int64_t& seconds);

// The DER SubjectPublicKeyInfo of a P-256 public key given as its 64-byte X‖Y
// (the form `openssl pkey -pubout -outform DER` writes); empty for another length.
std::string P256SubjectPublicKeyInfo(const std::string& point);
// A key's id from the SHA-256 of its DER SubjectPublicKeyInfo.
std::string StatementKeyId(const std::string& subjectPublicKeyInfoSha256);
