#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "base/unique_handle.h"
#include "engine/file_digest.h"
#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class FileCheckTest : public ::testing::Test {
protected:
    FileCheckTest() : cwd(dir.Path()), patcher(MakeDefaultConfig()) {}

    PatchFile Entry(const std::string& path, const std::string& md5, uint32_t size = 0) {
        PatchFile f;
        f.path = path;
        f.md5 = md5;
        f.size = size;
        return f;
    }

    TempDir dir;
    ScopedCurrentDir cwd;
    Patcher patcher;
};

TEST_F(FileCheckTest, EmptyListIsDoneAtOnceAndPublishesNothing) {
    std::vector<PatchFile> files;
    UpdateState marker;
    marker.status = L"marker";
    patcher.PublishProgress(marker);
    EXPECT_TRUE(patcher.CheckFiles(files));
    EXPECT_EQ(patcher.GetProgress().status, L"marker");
}

TEST_F(FileCheckTest, MissingAndDifferingFilesAreMarkedMatchingOnesAreNot) {
    WriteBytes(L"same.bin", "same");
    WriteBytes(L"upper.bin", "upper");
    WriteBytes(L"changed.bin", "local change");
    std::string upperDigest = Md5Hex("upper");
    for (char& c : upperDigest) c = static_cast<char>(toupper(c));
    std::vector<PatchFile> files = {
        Entry("same.bin", Md5Hex("same"), 999999),  // the size field is never compared
        Entry("upper.bin", upperDigest),
        Entry("changed.bin", Md5Hex("server version")),
        Entry("missing.bin", Md5Hex("x")),
        Entry("no/such/folder/file.bin", Md5Hex("y")),
    };
    ASSERT_TRUE(patcher.CheckFiles(files));
    EXPECT_FALSE(files[0].needsUpdate);
    EXPECT_FALSE(files[1].needsUpdate);
    EXPECT_TRUE(files[2].needsUpdate);
    EXPECT_TRUE(files[3].needsUpdate);
    EXPECT_TRUE(files[4].needsUpdate);
}

TEST_F(FileCheckTest, LastRecordCountsEveryEntryAndNamesTheLastLocalPath) {
    CreateDirectoryW(L"data", nullptr);
    WriteBytes(L"data\\a.bin", "a");
    std::vector<PatchFile> files = {Entry("x.bin", "00"), Entry("data/a.bin", Md5Hex("a"))};
    ASSERT_TRUE(patcher.CheckFiles(files));
    UpdateState last = patcher.GetProgress();
    EXPECT_EQ(last.status, L"Sprawdzanie: data\\a.bin");
    EXPECT_EQ(last.fileIndex, 2u);
    EXPECT_EQ(last.fileCount, 2u);
    EXPECT_EQ(last.fileDone + last.fileTotal + last.overallDone + last.overallTotal, 0u);
    EXPECT_EQ(last.speed, 0.0);
}

TEST_F(FileCheckTest, SlashAndBackslashPathsTestTheSameFile) {
    CreateDirectoryW(L"data", nullptr);
    WriteBytes(L"data\\a.bin", "a");
    std::vector<PatchFile> files = {Entry("data/a.bin", Md5Hex("a")), Entry("data\\a.bin", Md5Hex("a"))};
    ASSERT_TRUE(patcher.CheckFiles(files));
    EXPECT_FALSE(files[0].needsUpdate);
    EXPECT_FALSE(files[1].needsUpdate);
}

TEST_F(FileCheckTest, DirectoryOrUnreadableFileAtAListedPathIsMarked) {
    CreateDirectoryW(L"folder", nullptr);
    WriteBytes(L"locked.bin", "locked");
    UniqueFile holder(CreateFileW(L"locked.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    std::vector<PatchFile> files = {Entry("folder", Md5Hex("")), Entry("locked.bin", Md5Hex("locked"))};
    ASSERT_TRUE(patcher.CheckFiles(files));
    holder.Reset();
    EXPECT_TRUE(files[0].needsUpdate);
    EXPECT_TRUE(files[1].needsUpdate);
}

TEST_F(FileCheckTest, CancelWhileTheThirdOfFiveIsHashedStopsBeforeTheFourth) {
    std::vector<PatchFile> files;
    for (int i = 0; i < 5; ++i) {
        std::wstring name = L"f" + std::to_wstring(i) + L".bin";
        WriteBytes(name, "content");
        files.push_back(Entry(ToUtf8(name), "not-the-digest"));
    }
    // The third digest waits until another thread has cancelled: the cancel lands
    // while that file is being hashed, every time.
    std::promise<void> hashing;
    std::promise<void> cancelled;
    std::future<void> hashingStarted = hashing.get_future();
    std::future<void> cancelDone = cancelled.get_future();
    std::vector<std::wstring> hashed;
    PatcherTestAccess::SetFileDigest(patcher, [&](const std::wstring& path) {
        hashed.push_back(path);
        if (path == L"f2.bin") {
            hashing.set_value();
            cancelDone.wait_for(std::chrono::seconds(60));
        }
        return ComputeFileMd5(path);
    });
    std::thread canceller([&] {
        if (hashingStarted.wait_for(std::chrono::seconds(60)) == std::future_status::ready) patcher.Cancel();
        cancelled.set_value();
    });
    bool finished = patcher.CheckFiles(files);
    canceller.join();

    EXPECT_FALSE(finished);
    UpdateState last = patcher.GetProgress();
    EXPECT_EQ(last.status, L"Sprawdzanie: f2.bin");
    EXPECT_EQ(last.fileIndex, 3u) << "the third entry is finished and published";
    EXPECT_TRUE(files[2].needsUpdate);
    EXPECT_FALSE(files[3].needsUpdate);
    EXPECT_FALSE(files[4].needsUpdate);
    EXPECT_EQ(hashed, std::vector<std::wstring>({L"f0.bin", L"f1.bin", L"f2.bin"}));
}

}  // namespace
