#include "tools/publish/publish/publish_record.h"

#include <sstream>
#include <vector>

namespace {

const char kFormatLine[] = "vorlen-publish-state 1";

std::vector<std::string> SplitAtSpaces(const std::string& line) {
    std::vector<std::string> fields;
    size_t begin = 0;
    while (begin <= line.size()) {
        size_t end = line.find(' ', begin);
        if (end == std::string::npos) end = line.size();
        fields.push_back(line.substr(begin, end - begin));
        begin = end + 1;
    }
    return fields;
}

// A decimal number of up to 20 digits that fits in 64 bits; nothing else.
bool ReadNumber(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

bool IsDigest(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

}  // namespace

std::string FormatPublishRecord(const PublishRecord& record) {
    std::ostringstream text;
    text << kFormatLine << "\n"
         << "stamps " << kFileStampSystem << "\n";
    if (record.release > 0) text << "release " << record.release << "\n";
    for (const auto& entry : record.files) {
        const RecordedFile& file = entry.second;
        text << "file " << file.md5 << ' ' << file.placed.size << ' ' << file.placed.modified << ' '
             << file.placed.id << ' ' << file.source.modified << ' ' << file.source.changed << ' '
             << file.source.id << ' ' << entry.first << "\n";
    }
    return text.str();
}

namespace {

bool ReadRecordLines(const std::string& text, PublishRecord& record) {
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kFormatLine) return false;
    bool stampsKnown = false;
    while (std::getline(lines, line)) {
        const std::vector<std::string> fields = SplitAtSpaces(line);
        if (fields[0] == "stamps") {
            if (fields.size() != 2 || fields[1] != kFileStampSystem) return false;
            stampsKnown = true;
        } else if (fields[0] == "release") {
            if (fields.size() != 2 || !ReadNumber(fields[1], record.release)) return false;
        } else if (fields[0] == "file") {
            RecordedFile file;
            if (fields.size() != 9 || !stampsKnown || !IsDigest(fields[1]) || fields[8].empty() ||
                !ReadNumber(fields[2], file.placed.size) || !ReadNumber(fields[3], file.placed.modified) ||
                !ReadNumber(fields[4], file.placed.id) || !ReadNumber(fields[5], file.source.modified) ||
                !ReadNumber(fields[6], file.source.changed) || !ReadNumber(fields[7], file.source.id)) {
                return false;
            }
            file.md5 = fields[1];
            file.source.size = file.placed.size;
            record.files[fields[8]] = file;
        }
    }
    return stampsKnown;
}

}  // namespace

bool ParsePublishRecord(const std::string& text, PublishRecord& record) {
    record = PublishRecord();
    if (ReadRecordLines(text, record)) return true;
    record = PublishRecord();
    return false;
}

uint64_t RecordedRelease(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kFormatLine) return 0;
    while (std::getline(lines, line)) {
        const std::vector<std::string> fields = SplitAtSpaces(line);
        uint64_t release = 0;
        if (fields[0] == "release" && fields.size() == 2 && ReadNumber(fields[1], release)) return release;
    }
    return 0;
}

bool SamePlacedFile(const FileStamp& recorded, const FileStamp& inPlace) {
    return recorded.size == inPlace.size && recorded.modified == inPlace.modified && recorded.id == inPlace.id;
}

bool SameSourceFile(const FileStamp& recorded, const FileStamp& now) {
    return recorded.size == now.size && recorded.modified == now.modified && recorded.changed == now.changed &&
           recorded.id == now.id;
}
