#include <windows.h>

#include <gtest/gtest.h>

#include "app/logger.h"
#include "base/unique_handle.h"
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
    UniqueFile holder(CreateFileW(local.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(InstallDownloadedFile(tmp, local));
    holder.Reset();
    EXPECT_FALSE(FileExists(tmp));
    EXPECT_EQ(ReadBytes(local), "old");
    EXPECT_EQ(LogAfterBanner(),
              std::vector<std::wstring>({L"Usuwanie starego pliku: data.bin",
                                         L"fs::rename nie powiodło się, próba Windows API...",
                                         L"MoveFileW nie powiodło się, próba CopyFileW...",
                                         L"BŁĄD: CopyFileW też nie powiodło się!"}));
}

TEST_F(FileReplaceTest, ReadOnlyDestinationGoesThroughEveryFallbackAndTheTemporaryFileIsGone) {
    WriteBytes(local, "old");
    WriteBytes(tmp, "new");
    ASSERT_TRUE(SetFileAttributesW(local.c_str(), FILE_ATTRIBUTE_READONLY));
    bool installed = InstallDownloadedFile(tmp, local);
    SetFileAttributesW(local.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(FileExists(tmp));
    std::vector<std::wstring> lines = {L"Usuwanie starego pliku: data.bin",
                                       L"fs::rename nie powiodło się, próba Windows API...",
                                       L"MoveFileW nie powiodło się, próba CopyFileW..."};
    // Neither the remove nor the delete nor the move gets past the attribute. On
    // Windows the copy does not either and the old file stays; Wine's CopyFileW
    // writes over a read-only file, so there the copy installs the new one.
    if (RunningUnderWine()) {
        EXPECT_TRUE(installed);
        EXPECT_EQ(ReadBytes(local), "new");
        lines.push_back(L"OK (fallback)");
    } else {
        EXPECT_FALSE(installed);
        EXPECT_EQ(ReadBytes(local), "old");
        lines.push_back(L"BŁĄD: CopyFileW też nie powiodło się!");
    }
    EXPECT_EQ(LogAfterBanner(), lines);
}

TEST_F(FileReplaceTest, CopyFallbackWhenTheTemporaryFileCannotBeMoved) {
    WriteBytes(local, "old");
    WriteBytes(tmp, "new");
    // A reader that shares neither delete nor write: the file can be copied but not moved.
    UniqueFile reader(CreateFileW(tmp.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(reader);
    EXPECT_TRUE(InstallDownloadedFile(tmp, local));
    reader.Reset();
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
