#pragma once

#include <filesystem>
#include <string>

#include "tools/publish/shared/platform_files.h"
#include "tools/publish/publish/publish_record.h"
#include "tools/publish/publish/staged_write.h"

// One file to put into the server folder: a game file, or the new patcher.
struct FileToPlace {
    std::string key;  // its list path; the patcher's file by its name
    std::filesystem::path source;
    std::filesystem::path target;
    FileStamp sourceStamp;  // the source as it was when the game folder was scanned
};

// How much the record of placed files is worth for this publish.
enum class RecordTrust {
    Trusted,    // a file in place that matches its record holds the recorded bytes
    Unrecorded, // there is no record (an older tool, or none yet): read what is in place
    Distrusted  // --check-in-place: read every file in place and every source
};

// Whether a file is written, and why; or, when it is left alone, what the
// record says of it from now on.
struct Placement {
    bool write = false;
    std::string reason;  // why it is written, for --dry-run
    RecordedFile kept;   // when left alone; when written, only its md5 counts:
                         // the source's digest if the decision read it, else empty
};

// Decides one file. A file in place is left alone only when it is known to hold
// the source's bytes: with a trusted record, when the record matches the file in
// place and the record's digest is the source's (read from the record when the
// source's stamp matches too, so nothing is read); otherwise, when both digests
// match. `onBytes` sees the bytes read. False, with `error`, when a file that
// must be read cannot be, or when the source changes while it is read.
bool DecidePlacement(const FileToPlace& file, const RecordedFile* recorded, RecordTrust trust,
                     const CopyProgress& onBytes, Placement& placement, std::string& error);

// Reads the source for its digest, failing when it is no longer as scanned.
bool DigestSourceFile(const FileToPlace& file, const CopyProgress& onBytes, std::string& md5, std::string& error);

// Copies the file into place (CopyFileWithDigest), failing when the source is
// no longer as it was scanned; `placed` is its new record.
bool WriteFileInPlace(const FileToPlace& file, const CopyProgress& onBytes, RecordedFile& placed,
                      std::string& error);
