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
//   file MD5 SIZE MODIFIED ID SOURCE-MODIFIED SOURCE-CHANGED SOURCE-ID PATH
// The first line names the format; "stamps" names the system whose times and
// file ids the lines hold (kFileStampSystem). A reader skips lines that begin
// with a word it does not know, so later versions can add lines (a release
// number, say) without a new format line. PATH is last: a listed path holds no
// white space, but this way no path can shift the other fields.
struct RecordedFile {
    std::string md5;      // 32 lower-case hex digits
    FileStamp placed;     // the file in place; its `changed` is not kept
    FileStamp source;     // the source it was copied or compared from
};

struct PublishRecord {
    std::map<std::string, RecordedFile> files;  // by list path (the patcher's own file by its name)
};

std::string FormatPublishRecord(const PublishRecord& record);
// False when `text` is no record of this format or of this system's stamps;
// such a record vouches for nothing.
bool ParsePublishRecord(const std::string& text, PublishRecord& record);

// The file in place is the one recorded: same size, modification time and id.
bool SamePlacedFile(const FileStamp& recorded, const FileStamp& inPlace);
// The source is the one whose digest was recorded: same size, times and id.
bool SameSourceFile(const FileStamp& recorded, const FileStamp& now);
