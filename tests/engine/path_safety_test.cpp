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
