#include <gtest/gtest.h>

#include "engine/local_path.h"
#include "engine/path_safety.h"

namespace {

TEST(ListPathSafety, OrdinaryRelativePathsAreAccepted) {
    for (const char* path : {"Vorlen.exe", "data/a.pak", "data\\b\\c.bin", "./x.txt",
                             "dane/za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt", "a..b/c", "..a", "x/.hidden",
                             "console.txt", "com10", "nullify.dat"}) {
        EXPECT_TRUE(IsSafeListPath(path)) << path;
    }
}

TEST(ListPathSafety, PathsThatLeaveTheGameFolderAreRefused) {
    for (const char* path : {"/etc/passwd", "\\Windows\\x.dll", "\\\\server\\share\\x", "C:\\x.txt",
                             "c:x.txt", "data/file.txt:stream", "../x", "..\\x", "a/../../x",
                             "a\\..\\..\\x", "..", "a/..", "a/.. /b", "a/.../b", "a/. ./b",
                             "\\\\?\\C:\\x"}) {
        EXPECT_FALSE(IsSafeListPath(path)) << path;
    }
}

TEST(ListPathSafety, DeviceNamesAndControlCharactersAreRefused) {
    for (const char* path : {"CON", "nul.txt", "data/aux", "COM1.log", "lpt9", "a/PRN.dat",
                             "CONIN$", "a\tb", "x\ny"}) {
        EXPECT_FALSE(IsSafeListPath(path)) << path;
    }
}

TEST(ListPathSafety, SuperscriptPortNamesAreDevicesToo) {
    EXPECT_FALSE(IsSafeListPath("COM\xC2\xB9"));
    EXPECT_FALSE(IsSafeListPath("data/lpt\xC2\xB3.txt"));
    EXPECT_TRUE(IsSafeListPath("COM\xC2\xBA"));  // a masculine ordinal is just a letter
}

TEST(ListPathSafety, MalformedUtf8IsRefused) {
    // Windows' converter can swallow what follows a cut sequence, so "..\xF4a"
    // could turn into "..": only well-formed text means the same file everywhere.
    for (const char* path : {"\xD1", "..\xF4" "a", "a/..\xF4", "x\xC0\xAF" "y", "\xED\xA0\x80"}) {
        EXPECT_FALSE(IsSafeListPath(path)) << path;
    }
    EXPECT_TRUE(IsSafeListPath("za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt"));
}

TEST(ListPathSafety, ThePatchersReleaseRecordIsNeverAListedName) {
    // Whatever Windows would open as the record, its temporary file, or a folder in its place.
    for (const char* path : {"vorlen-release.dat", "VORLEN-Release.DAT", "./vorlen-release.dat",
                             ".\\vorlen-release.dat", "vorlen-release.dat.", "vorlen-release.dat .",
                             "vorlen-release.dat.tmp", "vorlen-release.dat/x.bin"}) {
        EXPECT_FALSE(IsSafeListPath(path)) << path;
    }
    for (const char* path : {"data/vorlen-release.dat", "my-vorlen-release.dat", "vorlen-release.da"}) {
        EXPECT_TRUE(IsSafeListPath(path)) << path;
    }
}

TEST(ListPathSafety, EmptyOrFolderOnlyPathsAreRefused) {
    for (const char* path : {"", "data/", "data\\", "."}) EXPECT_FALSE(IsSafeListPath(path)) << path;
}

TEST(FilePaths, SlashesAndBackslashesGiveTheSameLocalFileAndUrl) {
    EXPECT_EQ(LocalPathOf("data/sub/a.pak"), L"data\\sub\\a.pak");
    EXPECT_EQ(LocalPathOf("data\\sub\\a.pak"), L"data\\sub\\a.pak");
    EXPECT_EQ(FileUrlOf(L"http://h/fs", "data\\sub\\a.pak"), L"http://h/fs/data/sub/a.pak");
    EXPECT_EQ(FileUrlOf(L"http://h/fs", "data/sub/a.pak"), L"http://h/fs/data/sub/a.pak");
    EXPECT_EQ(FileUrlOf(L"http://h/fs", "za\xC5\xBC.txt"), L"http://h/fs/zaż.txt");
}

}  // namespace
