#include "tools/publish/shared/digest.h"

#include <fstream>
#include <vector>

#include "base/hex.h"

std::string Digest::FinishHex() {
    const std::string bytes = Finish();
    return ToHex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string DigestOf(Digest::Kind kind, const std::string& message) {
    Digest digest(kind);
    digest.Update(message.data(), message.size());
    return digest.Finish();
}

bool DigestOfFile(Digest::Kind kind, const std::filesystem::path& path, std::string& digest, uint64_t& size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    Digest running(kind);
    std::vector<char> buffer(1 << 18);
    uint64_t total = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        running.Update(buffer.data(), static_cast<size_t>(got));
        total += static_cast<uint64_t>(got);
    }
    if (in.bad()) return false;
    digest = running.Finish();
    size = total;
    return !digest.empty();
}
