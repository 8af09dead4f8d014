#include "tools/publish/publish/placement.h"

namespace {

std::string ChangedMessage(const FileToPlace& file) {
    return DisplayPath(file.source) + " changed while it was being published; is something still writing it?";
}

// The source is still as it was scanned: its bytes are the ones chosen.
bool SourceUnchanged(const FileToPlace& file, std::string& error) {
    FileStamp now;
    if (ReadFileStamp(file.source, true, now) && SameSourceFile(file.sourceStamp, now)) return true;
    error = ChangedMessage(file);
    return false;
}

void Write(Placement& placement, const char* reason) {
    placement.write = true;
    placement.reason = reason;
}

}  // namespace

bool DigestSourceFile(const FileToPlace& file, const CopyProgress& onBytes, std::string& md5, std::string& error) {
    CopiedFile digested;
    if (!DigestFile(file.source, file.sourceStamp.size, onBytes, digested, error)) return false;
    if (digested.size != file.sourceStamp.size || !SourceUnchanged(file, error)) {
        error = ChangedMessage(file);
        return false;
    }
    md5 = digested.md5;
    return true;
}

bool DecidePlacement(const FileToPlace& file, const RecordedFile* recorded, RecordTrust trust,
                     const CopyProgress& onBytes, Placement& placement, std::string& error) {
    placement = Placement();
    FileStamp inPlace;
    // A link in place is not a file the tool placed; the rename replaces it.
    if (!ReadFileStamp(file.target, false, inPlace)) {
        Write(placement, "new");
        return true;
    }
    placement.kept.placed = inPlace;
    placement.kept.source = file.sourceStamp;
    if (trust == RecordTrust::Trusted) {
        if (recorded == nullptr) {
            Write(placement, "not in the record of placed files");
            return true;
        }
        if (!SamePlacedFile(recorded->placed, inPlace)) {
            Write(placement, "changed in place since it was published");
            return true;
        }
        if (SameSourceFile(recorded->source, file.sourceStamp)) {
            placement.kept.md5 = recorded->md5;
            return true;
        }
        if (!DigestSourceFile(file, onBytes, placement.kept.md5, error)) return false;
        if (placement.kept.md5 != recorded->md5) Write(placement, "changed");
        return true;
    }
    if (inPlace.size != file.sourceStamp.size) {
        Write(placement, trust == RecordTrust::Distrusted ? "differs from the file in place" : "changed");
        return true;
    }
    CopiedFile placed;
    if (!DigestSourceFile(file, onBytes, placement.kept.md5, error) ||
        !DigestFile(file.target, inPlace.size, nullptr, placed, error)) {
        return false;
    }
    if (placed.md5 != placement.kept.md5 || placed.size != inPlace.size) {
        Write(placement, trust == RecordTrust::Distrusted ? "differs from the file in place" : "changed");
    }
    return true;
}

bool WriteFileInPlace(const FileToPlace& file, const CopyProgress& onBytes, RecordedFile& placed,
                      std::string& error) {
    CopiedFile copied;
    auto unchanged = [&](std::string& reason) { return SourceUnchanged(file, reason); };
    if (!CopyFileWithDigest(file.source, file.target, file.sourceStamp.size, onBytes, unchanged, copied, error)) {
        return false;
    }
    placed.md5 = copied.md5;
    placed.source = file.sourceStamp;
    // A copy whose stamp cannot be read is simply not vouched for: the next
    // publish writes it again.
    if (!ReadFileStamp(file.target, false, placed.placed)) placed.placed = FileStamp();
    return true;
}
