#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/patch_list.h"
#include "tools/publish/shared/patcher_version.h"

namespace {

PatchFile Entry(const std::string& path, const std::string& md5, uint32_t size) {
    PatchFile entry;
    entry.path = path;
    entry.md5 = md5;
    entry.size = size;
    return entry;
}

TEST(ListLine, IsPathDigestSizeAndALineFeed) {
    EXPECT_EQ(FormatPatchListLine(Entry("data/maps/forest.map", "fd35e52f7ccfa18b408bff36f0cedc1d", 65536)),
              "data/maps/forest.map fd35e52f7ccfa18b408bff36f0cedc1d 65536\n");
}

TEST(ListLine, ReadsBackThroughThePatchersParserAsTheSameEntry) {
    const std::vector<PatchFile> entries = {
        Entry("dane/zażółć.txt", "de5e02e0ac327a789b55bbebbcc5d90a", 79),
        Entry("empty.dat", "d41d8cd98f00b204e9800998ecf8427e", 0),
        Entry("huge.pak", "0123456789abcdef0123456789abcdef", 4294967295u),
        Entry(".hidden/#x", "ffffffffffffffffffffffffffffffff", 1),
    };
    std::string list;
    for (const PatchFile& entry : entries) list += FormatPatchListLine(entry);
    const std::vector<PatchFile> parsed = ParsePatchList(list);
    ASSERT_EQ(parsed.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(parsed[i].path, entries[i].path);
        EXPECT_EQ(parsed[i].md5, entries[i].md5);
        EXPECT_EQ(parsed[i].size, entries[i].size);
        EXPECT_FALSE(parsed[i].needsUpdate);
    }
}

TEST(PatcherVersion, AcceptsFourNumbersJoinedByDots) {
    std::string canonical;
    ASSERT_TRUE(ParsePatcherVersion("1.0.6.0", canonical));
    EXPECT_EQ(canonical, "1.0.6.0");
    ASSERT_TRUE(ParsePatcherVersion("2147483647.0.10.0", canonical));
    EXPECT_EQ(canonical, "2147483647.0.10.0");
}

TEST(PatcherVersion, DropsLeadingZeros) {
    std::string canonical;
    ASSERT_TRUE(ParsePatcherVersion("01.00.006.0", canonical));
    EXPECT_EQ(canonical, "1.0.6.0");
}

TEST(PatcherVersion, RefusesAnyOtherShape) {
    for (const char* text : {"", "1.0.6", "1.0.6.0.1", "v1.0.6.0", "1.0.6.0 ", " 1.0.6.0", "1..6.0",
                             "1.0.6.", "-1.0.0.0", "1.0.+6.0", "2147483648.0.0.0", "1,0,6,0"}) {
        std::string canonical = "unchanged";
        EXPECT_FALSE(ParsePatcherVersion(text, canonical)) << text;
        EXPECT_EQ(canonical, "unchanged");
    }
}

}  // namespace
