#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/publish/publish/list_path_rules.h"

namespace {

bool Listable(const std::string& path) { return ListPathProblem(path).empty(); }

TEST(ListPathRules, AcceptsNestedPathsWithPolishLetters) {
    EXPECT_TRUE(Listable("readme.txt"));
    EXPECT_TRUE(Listable("dane/zażółć.txt"));
    EXPECT_TRUE(Listable("data/maps/forest.map"));
    EXPECT_TRUE(Listable(".hidden/config"));
    EXPECT_TRUE(Listable("data/patchlist.txt"));  // reserved only at the top
    EXPECT_TRUE(Listable("a+b[1];(2)~'x'.dat"));
}

TEST(ListPathRules, RefusesWhiteSpaceThatSplitsOrEndsAListLine) {
    for (const char* path : {"a b.txt", "a\tb", "a\nb", "a\rb", "a\vb", "a\fb", " lead", "trail "}) {
        EXPECT_FALSE(Listable(path)) << path;
    }
}

TEST(ListPathRules, RefusesNamesThatAreNotUtf8) {
    EXPECT_FALSE(Listable("n\xFF.txt"));
    EXPECT_FALSE(Listable("za\xBF"));          // a stray continuation byte
    EXPECT_FALSE(Listable("\xC0\xAF"));        // an overlong "/"
    EXPECT_FALSE(Listable("\xED\xA0\x80"));    // a UTF-16 surrogate
    EXPECT_FALSE(Listable("z\xC5"));           // cut short
}

TEST(ListPathRules, RefusesPathsThePatcherRefuses) {
    for (const char* path : {"../up.txt", "a/../../b", "/etc/passwd", "CON", "data/nul.txt", "lpt1", "..."}) {
        EXPECT_FALSE(Listable(path)) << path;
    }
}

TEST(ListPathRules, RefusesCharactersAWindowsNameCannotHold) {
    for (const char* path : {"a\\b", "a<b", "a>b", "c:x", "a\"b", "a|b", "what?", "star*", "bell\x07"}) {
        EXPECT_FALSE(Listable(path)) << path;
    }
}

TEST(ListPathRules, RefusesCharactersAUrlCannotCarryUnencoded) {
    EXPECT_FALSE(Listable("100%.txt"));
    EXPECT_FALSE(Listable("a%41.txt"));
    EXPECT_FALSE(Listable("part#2.dat"));
}

TEST(ListPathRules, RefusesANameEndingWithADotWhichWindowsDrops) {
    EXPECT_FALSE(Listable("file."));
    EXPECT_FALSE(Listable("folder./file"));
}

TEST(ListPathRules, RefusesThePatchersAndTheServersOwnNamesAtTheTop) {
    for (const char* path : {"patchlist.txt", "patcher_version.txt", "Vorlen-Patcher.exe",
                             "vorlen-patcher.EXE", "Vorlen-Patcher.exe.new", "patcher.log",
                             "Patcher.log/inside.txt", "Vorlen-Release.DAT", "vorlen-release.dat.tmp"}) {
        EXPECT_FALSE(Listable(path)) << path;
    }
}

TEST(ListPathRules, RefusesThePublishingToolsOwnNamesAnywhere) {
    for (const char* path : {".vorlen-publish-state", "data/.vorlen-publish-0123.part", "a/.Vorlen-Publish-x"}) {
        EXPECT_FALSE(Listable(path)) << path;
    }
    EXPECT_TRUE(Listable(".vorlen-publish-folder/file"));
    EXPECT_TRUE(Listable("data/x.vorlen-publish-state"));
}

TEST(FoldCaseKey, FoldsLettersAsWindowsDoes) {
    EXPECT_EQ(FoldCaseKey("Data/README.TXT"), "data/readme.txt");
    EXPECT_EQ(FoldCaseKey("DANE/ZAŻÓŁĆ.TXT"), FoldCaseKey("dane/zażółć.txt"));
    EXPECT_EQ(FoldCaseKey("ĄĘŚŹŃ"), "ąęśźń");
    EXPECT_EQ(FoldCaseKey("ÉÆŸ"), "éæÿ");
    EXPECT_EQ(FoldCaseKey("ΑΩ ЖЁ"), "αω жё");
    EXPECT_NE(FoldCaseKey("ż"), FoldCaseKey("ź"));
}

TEST(NameCollisions, AcceptsDistinctNames) {
    EXPECT_TRUE(FindNameCollisions({"a.txt", "a.txt.bak", "a/b.txt", "b.tmp", "dane/zażółć.txt"}).empty());
}

TEST(NameCollisions, FindsAFileBesideItsStagingName) {
    EXPECT_EQ(FindNameCollisions({"a.txt", "a.txt.tmp"}).size(), 1u);
    EXPECT_EQ(FindNameCollisions({"data/a.txt", "data/A.TXT.TMP"}).size(), 1u);
}

TEST(NameCollisions, FindsAFolderNamedLikeAStagingFile) {
    EXPECT_EQ(FindNameCollisions({"a", "a.tmp/b"}).size(), 1u);
}

TEST(NameCollisions, FindsNamesThatDifferOnlyInLetterCase) {
    EXPECT_EQ(FindNameCollisions({"Data/x.txt", "data/X.txt"}).size(), 1u);
    EXPECT_EQ(FindNameCollisions({"dane/ŻÓŁW", "dane/żółw"}).size(), 1u);
    // Folders that differ in case merge into one folder on Windows; that is fine.
    EXPECT_TRUE(FindNameCollisions({"Data/a", "data/b"}).empty());
}

TEST(NameCollisions, FindsAFileWhereAnotherEntryNeedsAFolder) {
    EXPECT_EQ(FindNameCollisions({"maps", "Maps/forest.map"}).size(), 1u);
}

}  // namespace
