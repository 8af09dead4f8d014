#include <windows.h>

#include <gtest/gtest.h>

#include "app/logger.h"
#include "engine/file_replace.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class FileReplaceTest : public ::testing::Test {
protected:
    FileReplaceTest() : cwd(dir.Path()) { Logger::Open(L"patcher.log"); }
    ~FileReplaceTest() override { Logger::Close(); }

    std::vector<std::wstring> LogAfterBanner() {
        Logger::Close();
        std::vector<std::wstring> lines = ReadLogMessages(L"patcher.log");
        lines.erase(lines.begin());
        return lines;
    }

    TempDir dir;
    ScopedCurrentDir cwd;
    const std::wstring local = L"data.bin";
    const std::wstring tmp = L"data.bin.tmp";
};

TEST_F(FileReplaceTest, AbsentDestinationIsRenamedInPlace) {
    WriteBytes(tmp, "new");
    ASSERT_TRUE(InstallDownloadedFile(tmp, local));
    EXPECT_EQ(ReadBytes(local), "new");
    EXPECT_FALSE(FileExists(tmp));
    EXPECT_EQ(LogAfterBanner(),
              std::vector<std::wstring>({L"Przenoszenie: data.bin.tmp -> data.bin", L"OK"}));
}

TEST_F(FileReplaceTest, PresentDestinationIsRemovedThenReplaced) {
    WriteBytes(local, "old");
    WriteBytes(tmp, "new");
    ASSERT_TRUE(InstallDownloadedFile(tmp, local));
    EXPECT_EQ(ReadBytes(local), "new");
    EXPECT_FALSE(FileExists(tmp));
    EXPECT_EQ(LogAfterBanner(),
              std::vector<std::wstring>({L"Usuwanie starego pliku: data.bin",
                                         L"Przenoszenie: data.bin.tmp -> data.bin", L"OK"}));
}

TEST_F(FileReplaceTest, DestinationHeldOpenWithoutSharingFailsEveryWayAndDropsTheTemporaryFile) {
    WriteBytes(local, "old");
    WriteBytes(tmp, "new");
    HANDLE holder = CreateFileW(local.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(InstallDownloadedFile(tmp, local));
    CloseHandle(holder);
    EXPECT_FALSE(FileExists(tmp));
    EXPECT_EQ(ReadBytes(local), "old");
    EXPECT_EQ(LogAfterBanner(),
              std::vector<std::wstring>({L"Usuwanie starego pliku: data.bin",
                                         L"fs::rename nie powiodło się, próba Windows API...",
                                         L"MoveFileW nie powiodło się, próba CopyFileW...",
                                         L"BŁĄD: CopyFileW też nie powiodło się!"}));
}

TEST_F(FileReplaceTest, ReadOnlyDestinationIsNotReplacedAndTheTemporaryFileIsGone) {
    WriteBytes(local, "old");
    WriteBytes(tmp, "new");
    SetFileAttributesW(local.c_str(), FILE_ATTRIBUTE_READONLY);
    bool installed = InstallDownloadedFile(tmp, local);
    SetFileAttributesW(local.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(FileExists(tmp));
    std::vector<std::wstring> lines = LogAfterBanner();
    ASSERT_FALSE(lines.empty());
    if (installed) {
        // Wine lets a read-only file be replaced by one of the fallbacks.
        EXPECT_EQ(ReadBytes(local), "new");
        EXPECT_EQ(lines[1], L"fs::rename nie powiodło się, próba Windows API...");
    } else {
        EXPECT_EQ(ReadBytes(local), "old");
        EXPECT_EQ(lines.back(), L"BŁĄD: CopyFileW też nie powiodło się!");
    }
}

TEST_F(FileReplaceTest, CopyFallbackWhenTheTemporaryFileCannotBeMoved) {
    WriteBytes(local, "old");
    WriteBytes(tmp, "new");
    // A reader that shares neither delete nor write: the file can be copied but not moved.
    HANDLE reader = CreateFileW(tmp.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(InstallDownloadedFile(tmp, local));
    CloseHandle(reader);
    EXPECT_EQ(ReadBytes(local), "new");
    std::vector<std::wstring> lines = LogAfterBanner();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"MoveFileW nie powiodło się, próba CopyFileW...");
    EXPECT_EQ(lines.back(), L"OK (fallback)");
}

TEST_F(FileReplaceTest, NonEmptyFolderAtTheDestinationFailsCleanly) {
    CreateDirectoryW(local.c_str(), nullptr);
    WriteBytes(local + L"\\inside.txt", "x");
    WriteBytes(tmp, "new");
    EXPECT_FALSE(InstallDownloadedFile(tmp, local));
    EXPECT_FALSE(FileExists(tmp));
    EXPECT_EQ(ReadBytes(local + L"\\inside.txt"), "x");
}

}  // namespace
