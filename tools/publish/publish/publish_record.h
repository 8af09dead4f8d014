#pragma once

#include <map>
#include <string>

#include "tools/publish/shared/platform_files.h"

// The tool's own record of what it placed in a server folder, kept there as
// .vorlen-publish-state: for each file it put in place, the file's digest, and
// the stamps of the file in place and of the source it was copied from. A file
// in place whose stamp still matches holds the recorded bytes, and a source whose
// stamp still matches has the recorded digest, so a publish that changes nothing
// reads no file at all.
//
// The text form, one item per line, fields separated by one space:
//   vorlen-publish-state 1
//   stamps linux
//   release 7
//   file MD5 SIZE MODIFIED ID SOURCE-MODIFIED SOURCE-CHANGED SOURCE-ID PATH
// The first line names the format; "stamps" names the system whose times and
// file ids the lines hold (kFileStampSystem). A reader skips lines that begin
// with a word it does not know, so later versions can add lines without a new
// format line (the release line came so). "release" is the number of the
// release in the folder (1 and up; absent before the first): it goes up whenever
// the list, the version or the patcher changes, and a signed release's statement
// carries it. PATH is last: a listed path holds no white space, but this way no
// path can shift the other fields.
struct RecordedFile {
    std::string md5;      // 32 lower-case hex digits
    FileStamp placed;     // the file in place; its `changed` is not kept
    FileStamp source;     // the source it was copied or compared from
};

struct PublishRecord {
    uint64_t release = 0;
    std::map<std::string, RecordedFile> files;  // by list path (the patcher's own file by its name)
};

std::string FormatPublishRecord(const PublishRecord& record);
// False when `text` is no record of this format or of this system's stamps;
// such a record vouches for nothing.
bool ParsePublishRecord(const std::string& text, PublishRecord& record);
// The release number of a record of this format, whatever system its stamps
// are from (a number must never go back, even when the stamps vouch for
// nothing); 0 when it has none.
uint64_t RecordedRelease(const std::string& text);

// The file in place is the one recorded: same size, modification time and id.
bool SamePlacedFile(const FileStamp& recorded, const FileStamp& inPlace);
// The source is the one whose digest was recorded: same size, times and id.
bool SameSourceFile(const FileStamp& recorded, const FileStamp& now);
