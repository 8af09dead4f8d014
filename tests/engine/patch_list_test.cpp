#include <gtest/gtest.h>

#include "engine/patch_list.h"

namespace {

std::vector<std::string> Paths(const std::vector<PatchFile>& files) {
    std::vector<std::string> paths;
    for (const PatchFile& f : files) paths.push_back(f.path);
    return paths;
}

TEST(PatchListFormat, ReadsPathDigestAndSizeInListOrder) {
    auto files = ParsePatchList("data/a.pak 0123abcd 100\nb.txt ffff 7\n");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].path, "data/a.pak");
    EXPECT_EQ(files[0].md5, "0123abcd");
    EXPECT_EQ(files[0].size, 100u);
    EXPECT_FALSE(files[0].needsUpdate);
    EXPECT_EQ(files[1].path, "b.txt");
    EXPECT_EQ(files[1].size, 7u);
}

TEST(PatchListFormat, EmptyAndBlankTextsGiveNoEntries) {
    EXPECT_TRUE(ParsePatchList("").empty());
    EXPECT_TRUE(ParsePatchList("\n\n\n").empty());
    EXPECT_TRUE(ParsePatchList(" \t\r\n\t \r\n").empty());
}

TEST(PatchListFormat, TrimmingAndSeparatorsMakeNoDifference) {
    auto plain = ParsePatchList("a.bin abc 5\n");
    auto spaced = ParsePatchList("  \t a.bin \t\t  abc    5  \t\r\n");
    ASSERT_EQ(spaced.size(), 1u);
    EXPECT_EQ(spaced[0].path, plain[0].path);
    EXPECT_EQ(spaced[0].md5, plain[0].md5);
    EXPECT_EQ(spaced[0].size, plain[0].size);
    // Vertical tab and form feed separate fields too.
    auto other = ParsePatchList("a.bin\vabc\f5");
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].md5, "abc");
    EXPECT_EQ(other[0].size, 5u);
}

TEST(PatchListFormat, CrLfAndLfFilesReadTheSame) {
    auto lf = ParsePatchList("a x 1\nb y 2\nc z 3");
    auto crlf = ParsePatchList("a x 1\r\nb y 2\r\nc z 3\r\n");
    ASSERT_EQ(lf.size(), 3u);
    ASSERT_EQ(crlf.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lf[i].path, crlf[i].path);
        EXPECT_EQ(lf[i].md5, crlf[i].md5);
        EXPECT_EQ(lf[i].size, crlf[i].size);
    }
}

TEST(PatchListFormat, CrOnlyFileIsOneLine) {
    auto files = ParsePatchList("a x 1\rb y 2\rc z 3\r");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, "a");
    EXPECT_EQ(files[0].md5, "x");
    EXPECT_EQ(files[0].size, 1u);
}

TEST(PatchListFields, LinesWithOneFieldAreDropped) {
    auto files = ParsePatchList("lonely\nok abc 1\n#comment\n");
    EXPECT_EQ(Paths(files), std::vector<std::string>({"ok"}));
}

TEST(PatchListFields, OnlyTheFirstThreeFieldsCount) {
    auto files = ParsePatchList("a abc 12 extra more fields\n");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].size, 12u);
}

TEST(PatchListFields, SizeIsReadLikeAStreamReadsAnUnsignedNumber) {
    EXPECT_EQ(ParsePatchList("a b 12kb")[0].size, 12u);
    EXPECT_EQ(ParsePatchList("a b kb")[0].size, 0u);
    EXPECT_EQ(ParsePatchList("a b")[0].size, 0u);
    EXPECT_EQ(ParsePatchList("a b 4294967295")[0].size, 4294967295u);
}

TEST(PatchListFields, CommentLikeLinesAreOrdinaryEntries) {
    auto files = ParsePatchList("# not-a-comment 3\n; semi 4\n");
    EXPECT_EQ(Paths(files), std::vector<std::string>({"#", ";"}));
    EXPECT_EQ(files[0].md5, "not-a-comment");
}

TEST(PatchListFields, DigestCaseIsKeptAsWritten) {
    EXPECT_EQ(ParsePatchList("a ABCDEF 1")[0].md5, "ABCDEF");
}

TEST(PatchListFields, PathWithABlankCannotBeExpressed) {
    auto files = ParsePatchList("my file.txt abc 3");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, "my");
    EXPECT_EQ(files[0].md5, "file.txt");
}

TEST(PatchListFields, ByteOrderMarkStaysInTheFirstPath) {
    auto files = ParsePatchList("\xEF\xBB\xBF" "a.txt abc 1\nb.txt def 2");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].path, "\xEF\xBB\xBF" "a.txt");
    EXPECT_EQ(files[1].path, "b.txt");
}

TEST(PatchListFields, DuplicatePathsStaySeparate) {
    EXPECT_EQ(ParsePatchList("a x 1\na y 2\n").size(), 2u);
}

}  // namespace
