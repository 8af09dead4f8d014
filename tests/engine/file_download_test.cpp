#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "app/logger.h"
#include "base/unique_handle.h"
#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class FileDownloadTest : public ::testing::Test {
protected:
    FileDownloadTest() : cwd(game.Path()) {}

    void SetUp() override {
        config.serverUrl = served.Url();
        patcher.reset(new Patcher(config));
        Logger::Open(L"patcher.log");
        ASSERT_TRUE(PatcherTestAccess::Http(*patcher).Initialize(L"Vorlen Patcher/1.0"));
        PatcherTestAccess::StartSpeedSampling(*patcher, GetTickCount64());
    }
    void TearDown() override {
        patcher.reset();
        Logger::Close();
    }

    // Publishes a file on the server; its entry is marked as needing the update.
    PatchFile Publish(const std::string& path, const std::string& bytes) {
        PatchFile entry = served.Publish(path, bytes);
        entry.needsUpdate = true;
        return entry;
    }

    // A new engine for another server URL; the old one's destructor closed the log.
    void Reconfigure(const std::wstring& serverUrl) {
        config.serverUrl = serverUrl;
        patcher.reset(new Patcher(config));
        Logger::Open(L"patcher.log");
        ASSERT_TRUE(PatcherTestAccess::Http(*patcher).Initialize(L"Vorlen Patcher/1.0"));
        PatcherTestAccess::StartSpeedSampling(*patcher, GetTickCount64());
    }

    bool Download(const std::vector<PatchFile>& files) {
        return PatcherTestAccess::DownloadFiles(*patcher, files);
    }

    // The log of the stage: banner and the destructor's last line removed.
    std::vector<std::wstring> StageLog() {
        patcher.reset();
        Logger::Close();
        std::vector<std::wstring> lines = ReadLogMessages(L"patcher.log");
        lines.erase(lines.begin());
        if (!lines.empty() && lines.back() == L"Patcher zamknięty") lines.pop_back();
        return lines;
    }

    ServedFolder served{L"download"};
    TempDir game;
    ScopedCurrentDir cwd;
    PatcherConfig config = MakeDefaultConfig();
    std::unique_ptr<Patcher> patcher;
};

TEST_F(FileDownloadTest, EmptyListSucceedsSilently) {
    UpdateState marker;
    marker.status = L"marker";
    patcher->PublishProgress(marker);
    EXPECT_TRUE(Download({}));
    EXPECT_EQ(patcher->GetProgress().status, L"marker");
    EXPECT_TRUE(StageLog().empty());
}

TEST_F(FileDownloadTest, WrongDigestOnTheSecondOfThreeStopsThere) {
    PatchFile first = Publish("one.bin", PatternBytes(10000, 1));
    PatchFile second = Publish("two.bin", PatternBytes(10000, 2));
    second.md5 = Md5Hex("something else");
    PatchFile third = Publish("three.bin", PatternBytes(10000, 3));

    EXPECT_FALSE(Download({first, second, third}));

    EXPECT_EQ(ReadBytes(L"one.bin"), PatternBytes(10000, 1));
    EXPECT_FALSE(FileExists(L"two.bin"));
    EXPECT_FALSE(FileExists(L"two.bin.tmp"));
    EXPECT_FALSE(FileExists(L"three.bin"));
    EXPECT_EQ(served.Requests(), std::vector<std::string>({"one.bin", "two.bin"}));
    UpdateState state = patcher->GetProgress();
    EXPECT_EQ(state.status, L"Błąd weryfikacji pliku: two.bin");
    EXPECT_EQ(state.overallTotal + state.overallDone + state.fileDone + state.fileCount, 0u);
    EXPECT_EQ(PatcherTestAccess::LastError(*patcher), L"Błąd weryfikacji pliku: two.bin");

    std::wstring got = Utf8(Md5Hex(PatternBytes(10000, 2)));
    std::vector<std::wstring> expected = {
        L"[1/3] Pobieranie: one.bin",
        L"Pobrano, weryfikacja MD5...",
        L"MD5 OK, zamiana plików...",
        L"Przenoszenie: one.bin.tmp -> one.bin",
        L"OK",
        L"Plik zaktualizowany pomyślnie",
        L"[2/3] Pobieranie: two.bin",
        L"Pobrano, weryfikacja MD5...",
        L"BŁĄD: MD5 nie pasuje! Oczekiwano: " + Utf8(second.md5) + L", otrzymano: " + got,
    };
    EXPECT_EQ(StageLog(), expected);
}

TEST_F(FileDownloadTest, SlashAndBackslashPathsReachTheSameFileAndUrl) {
    PatchFile slash = Publish("data/sub/a.bin", "first");
    PatchFile back = slash;
    back.path = "data\\sub\\a.bin";
    ASSERT_TRUE(Download({slash, back}));
    EXPECT_EQ(ReadBytes(L"data\\sub\\a.bin"), "first");
    EXPECT_EQ(served.Requests(), std::vector<std::string>({"data/sub/a.bin", "data/sub/a.bin"}));
    std::vector<std::wstring> log = StageLog();
    EXPECT_EQ(log[0], L"[1/2] Pobieranie: data\\sub\\a.bin");
}

TEST_F(FileDownloadTest, NewFolderChainIsCreatedAndAnUpperCaseDigestMatches) {
    PatchFile deep = Publish("a/b/c/d/deep.bin", PatternBytes(3000, 7));
    for (char& c : deep.md5) c = static_cast<char>(toupper(c));
    ASSERT_TRUE(Download({deep}));
    EXPECT_EQ(ReadBytes(L"a\\b\\c\\d\\deep.bin"), PatternBytes(3000, 7));
    EXPECT_FALSE(FileExists(L"a\\b\\c\\d\\deep.bin.tmp"));
}

TEST_F(FileDownloadTest, ExistingFileIsReplacedWithTheVerifiedOne) {
    WriteBytes(L"game.dat", "old version");
    PatchFile entry = Publish("game.dat", "new version");
    ASSERT_TRUE(Download({entry}));
    EXPECT_EQ(ReadBytes(L"game.dat"), "new version");
    std::vector<std::wstring> log = StageLog();
    EXPECT_EQ(log[3], L"Usuwanie starego pliku: game.dat");
    EXPECT_EQ(log.back(), L"Plik zaktualizowany pomyślnie");
}

TEST_F(FileDownloadTest, MissingFileOnTheServerReportsTheClientError) {
    PatchFile entry = Publish("here.bin", "x");
    entry.path = "gone.bin";
    EXPECT_FALSE(Download({entry}));
    std::wstring expected = L"Błąd pobierania: gone.bin\nHTTP Error: 404";
    EXPECT_EQ(PatcherTestAccess::LastError(*patcher), expected);
    EXPECT_EQ(patcher->GetProgress().status, expected);
    EXPECT_FALSE(FileExists(L"gone.bin.tmp"));
    std::vector<std::wstring> log = StageLog();
    EXPECT_EQ(log.back(), L"BŁĄD: Pobieranie nie powiodło się: gone.bin");
}

TEST_F(FileDownloadTest, ShortBodyIsCaughtByTheDigest) {
    std::string full = PatternBytes(50000, 4);
    served.Put("short.bin", full);
    PatchFile entry;
    entry.path = "short.bin";
    entry.md5 = Md5Hex(full);
    entry.size = 50000;
    Reconfigure(ServerRoot() + L"/cut/20000/" + served.name);
    EXPECT_FALSE(Download({entry}));
    EXPECT_EQ(patcher->GetProgress().status, L"Błąd weryfikacji pliku: short.bin");
    EXPECT_FALSE(FileExists(L"short.bin"));
    EXPECT_FALSE(FileExists(L"short.bin.tmp"));
    std::vector<std::wstring> log = StageLog();
    EXPECT_EQ(log.back().rfind(L"BŁĄD: MD5 nie pasuje! Oczekiwano: " + Utf8(entry.md5), 0), 0u);
}

TEST_F(FileDownloadTest, InstallationFailureKeepsTheOldFileAndDropsTheTemporaryOne) {
    WriteBytes(L"busy.bin", "in use");
    PatchFile entry = Publish("busy.bin", "update");
    UniqueFile holder(CreateFileW(L"busy.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(Download({entry}));
    holder.Reset();
    EXPECT_EQ(patcher->GetProgress().status, L"Nie można zapisać pliku: busy.bin");
    EXPECT_EQ(ReadBytes(L"busy.bin"), "in use");
    EXPECT_FALSE(FileExists(L"busy.bin.tmp"));
}

TEST_F(FileDownloadTest, CancelDuringATransferSetsNoErrorText) {
    served.Put("slow.bin", PatternBytes(300000, 5));
    PatchFile entry;
    entry.path = "slow.bin";
    entry.md5 = Md5Hex(PatternBytes(300000, 5));
    entry.size = 300000;
    Reconfigure(ServerRoot() + L"/slow/40/" + served.name);
    std::thread canceller([&] {
        WaitFor([&] { return patcher->GetProgress().fileDone > 0; }, 30000);
        patcher->Cancel();
    });
    EXPECT_FALSE(Download({entry, entry}));
    canceller.join();
    EXPECT_TRUE(PatcherTestAccess::LastError(*patcher).empty());
    EXPECT_FALSE(FileExists(L"slow.bin.tmp"));
    EXPECT_FALSE(FileExists(L"slow.bin"));
    std::vector<std::wstring> log = StageLog();
    EXPECT_EQ(log, std::vector<std::wstring>({L"[1/2] Pobieranie: slow.bin",
                                              L"BŁĄD: Pobieranie nie powiodło się: slow.bin"}));
}

TEST_F(FileDownloadTest, ProgressRecordsCarryTheStageCounters) {
    PatchFile a = Publish("a.bin", PatternBytes(20000, 1));
    PatchFile b = Publish("b.bin", PatternBytes(30000, 2));
    std::vector<UpdateState> seen;
    // The tick source is read at the start of every progress call, so it can see
    // what the previous call published.
    PatcherTestAccess::SetTickSource(*patcher, [&] {
        seen.push_back(patcher->GetProgress());
        return uint64_t(0);
    });
    PatcherTestAccess::StartSpeedSampling(*patcher, 0);
    ASSERT_TRUE(Download({a, b}));
    seen.push_back(patcher->GetProgress());
    seen.erase(seen.begin());  // the record from before the first call
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().status, L"a.bin");
    EXPECT_EQ(seen.back().status, L"b.bin");
    EXPECT_EQ(seen.back().fileDone, 30000u);
    EXPECT_EQ(seen.back().fileTotal, 30000u);
    EXPECT_EQ(seen.back().overallDone, 50000u);
    EXPECT_EQ(seen.back().overallTotal, 50000u);
    EXPECT_EQ(seen.back().fileIndex, 1u);
    EXPECT_EQ(seen.back().fileCount, 2u);
    for (const UpdateState& s : seen) EXPECT_LE(s.overallDone, 50000u);
}

TEST_F(FileDownloadTest, SpeedIsSampledOnlyAfterMoreThan500Milliseconds) {
    PatchFile a = Publish("a.bin", PatternBytes(8192 * 6, 1));
    // Each progress report reads the clock once and the clock moves 200 ms a
    // reading: every third report comes 600 ms after the last sample and
    // measures, the two between repeat what is shown. How many bytes a report
    // brings is up to the transfer, so the expected speeds come from the reports.
    std::vector<UpdateState> seen;
    uint64_t now = 1000;
    PatcherTestAccess::SetTickSource(*patcher, [&] {
        seen.push_back(patcher->GetProgress());
        now += 200;
        return now;
    });
    PatcherTestAccess::StartSpeedSampling(*patcher, 1000);
    UpdateState before;
    before.speed = 77.0;
    before.secondsLeft = 5;
    patcher->PublishProgress(before);
    ASSERT_TRUE(Download({a}));
    // A clock reading sees the report before its own: seen[i] becomes report i + 1.
    seen.push_back(patcher->GetProgress());
    seen.erase(seen.begin());
    // No read brings more than 8192 bytes: six reports at least, two of them samples.
    ASSERT_GE(seen.size(), 6u);
    EXPECT_EQ(seen.back().overallDone, 8192u * 6);

    double shownSpeed = 77.0;
    int32_t shownSecondsLeft = 5;
    uint32_t sampledBytes = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
        const UpdateState& report = seen[i];
        SCOPED_TRACE("report " + std::to_string(i + 1) + " at " + std::to_string(report.overallDone) +
                     " bytes");
        if ((i + 1) % 3 != 0) {
            EXPECT_EQ(report.speed, shownSpeed);
            EXPECT_EQ(report.secondsLeft, shownSecondsLeft);
            continue;
        }
        // The bytes since the last sample, over the 600 ms since it.
        double speed = (report.overallDone - sampledBytes) * 1000.0 / 600.0;
        EXPECT_DOUBLE_EQ(report.speed, speed);
        EXPECT_EQ(report.secondsLeft, static_cast<int32_t>((report.overallTotal - report.overallDone) / speed));
        shownSpeed = report.speed;
        shownSecondsLeft = report.secondsLeft;
        sampledBytes = report.overallDone;
    }
}

TEST_F(FileDownloadTest, ListSizesSmallerThanTheFilesNeverShowWrappedValues) {
    PatchFile a = Publish("a.bin", PatternBytes(40000, 1));
    PatchFile b = Publish("b.bin", PatternBytes(40000, 2));
    a.size = 10;  // the list lies about both sizes
    b.size = 10;
    std::vector<UpdateState> seen;
    uint64_t now = 0;
    PatcherTestAccess::SetTickSource(*patcher, [&] {
        seen.push_back(patcher->GetProgress());
        now += 600;
        return now;
    });
    PatcherTestAccess::StartSpeedSampling(*patcher, 0);
    ASSERT_TRUE(Download({a, b}));
    seen.push_back(patcher->GetProgress());
    for (const UpdateState& s : seen) {
        EXPECT_TRUE(std::isfinite(s.speed));
        EXPECT_GE(s.speed, 0.0);
        EXPECT_LT(s.speed, 1e6) << "a wrapped difference would read as gigabytes per second";
        EXPECT_GE(s.secondsLeft, 0);
    }
    EXPECT_EQ(ReadBytes(L"b.bin"), PatternBytes(40000, 2));
}

TEST_F(FileDownloadTest, FullDiskFailsTheDownloadAndLeavesNoPartialFile) {
    std::wstring disk = SessionDir() + L"\\smalldisk";
    if (!FileExists(disk + L"\\.mounted")) GTEST_SKIP() << "no small disk in this session";
    std::wstring folder = disk + L"\\game-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    ScopedCurrentDir onSmallDisk(folder);
    Logger::Open(L"..\\patcher-" + std::to_wstring(GetCurrentProcessId()) + L".log");
    PatchFile big = Publish("big.bin", PatternBytes(1024 * 1024, 6));
    EXPECT_FALSE(Download({big}));
    std::wstring status = patcher->GetProgress().status;
    EXPECT_EQ(status, L"Błąd pobierania: big.bin\nBłąd zapisu pliku: big.bin.tmp");
    EXPECT_FALSE(FileExists(L"big.bin.tmp"));
    EXPECT_FALSE(FileExists(L"big.bin"));
    Logger::Close();
    SetCurrentDirectoryW(disk.c_str());
    RemoveDirectoryW(folder.c_str());
    DeleteFileW((L"patcher-" + std::to_wstring(GetCurrentProcessId()) + L".log").c_str());
}

}  // namespace
