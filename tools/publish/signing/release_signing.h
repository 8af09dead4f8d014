#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/release_statement.h"
#include "tools/publish/signing/signing_key.h"

// The tool's side of a signed release: one release statement
// (base/release_statement.h) in the server folder, signed by every key given.

// The server folder's statement, under the list's name plus ".sig".
std::string StatementFileName();
// What an older version of the tool signed the patcher with; a statement signs
// the patcher now, so a signing publish removes it.
std::string RetiredPatcherSignatureName();

// Loads each file as a private key (`isPrivate`) or a public one; false, naming
// the file, when one cannot be loaded or when one key is given twice.
bool LoadKeys(const std::vector<std::filesystem::path>& files, bool isPrivate, std::vector<SigningKey>& keys,
              std::string& error);

// The list's fields of a statement from the list's bytes.
void SetListFields(ReleaseStatement& statement, const std::string& listText);
// The patcher's fields from the version text (as the version file holds it; the
// statement carries it trimmed, as the patcher compares it) and the executable,
// read in pieces; false with a reason when it cannot be read. SignStatement
// checks that they can be signed.
bool SetPatcherFields(ReleaseStatement& statement, const std::string& versionFileText,
                      const std::filesystem::path& exe, std::string& error);
// The fields the server folder's files give: its list and, when it has both the
// version file and the executable, its patcher.
bool ReadFolderRelease(const std::filesystem::path& serverFolder, ReleaseStatement& statement, std::string& error);

// The same list and the same patcher (or none), whatever the number, expiry and
// signatures.
bool SameReleaseContent(const ReleaseStatement& a, const ReleaseStatement& b);
// Where the content of `statement` (the signed one) and `found` differ, in words
// ("the list has 812 bytes, the statement says 790"); empty when they do not.
std::string ReleaseContentDifference(const ReleaseStatement& statement, const ReleaseStatement& found);

// Signs the statement with each key, in their order, replacing its signatures.
bool SignStatement(ReleaseStatement& statement, const std::vector<SigningKey>& keys, std::string& error);
// Signed by these keys and no other, in this order, each signature good.
bool SignedByExactly(const ReleaseStatement& statement, const std::vector<SigningKey>& keys);
// The signature line that names `key` verifies.
bool SignedBy(const ReleaseStatement& statement, const SigningKey& key);

// Reads and parses a statement file; false when there is none (`problem` empty)
// or it is not a statement (`problem` says why).
bool ReadStatementFile(const std::filesystem::path& path, ReleaseStatement& statement, std::string& problem);
// Writes a signed statement atomically; read back, it must parse into the same
// lines and verify with every key.
bool WriteStatementFile(const std::filesystem::path& path, const ReleaseStatement& statement,
                        const std::vector<SigningKey>& keys, std::string& error);

// "release 7, expires 2030-12-31T23:59:59Z, signed by 1f2e3d4c5b6a7980 and
// 0a1b2c3d4e5f6071" ("no expiry" when it has none).
std::string DescribeStatement(const ReleaseStatement& statement);
