#include "tools/publish/shared/digest.h"

#include "base/hex.h"

std::string Digest::FinishHex() {
    const std::string bytes = Finish();
    return ToHex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
