#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/logger.h"
#include "app/patcher_version.h"
#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// A patcher whose server is a folder of the local patch server, run in a
// temporary game folder.
class PatcherStateTest : public ::testing::Test {
protected:
    PatcherStateTest() : folder(L"state"), cwd(game.Path()) {
        config.serverUrl = folder.Url();
    }
    ServedFolder folder;
    TempDir game;
    ScopedCurrentDir cwd;
    PatcherConfig config = MakeDefaultConfig();
};

TEST_F(PatcherStateTest, NewPatcherIsIdleWithAnEmptyRecord) {
    Patcher patcher(config);
    EXPECT_EQ(patcher.GetPhase(), UpdatePhase::Idle);
    UpdateState state = patcher.GetProgress();
    EXPECT_TRUE(state.status.empty());
    EXPECT_EQ(state.fileDone + state.fileTotal + state.overallDone + state.overallTotal, 0u);
    EXPECT_EQ(state.speed, 0.0);
    EXPECT_EQ(state.secondsLeft, 0);
    EXPECT_EQ(state.fileIndex + state.fileCount, 0u);
    EXPECT_FALSE(patcher.IsExitRequested());
}

TEST_F(PatcherStateTest, ConfigurationHasTheBuiltInValues) {
    PatcherConfig defaults;
    EXPECT_EQ(defaults.windowWidth, 600);
    PatcherConfig built = MakeDefaultConfig();
    EXPECT_EQ(built.patchListFile, L"patchlist.txt");
    EXPECT_EQ(built.versionFile, L"patcher_version.txt");
    EXPECT_EQ(built.windowTitle, L"Vorlen Patcher");
    EXPECT_EQ(built.gameExecutable, L"Vorlen.exe");
    EXPECT_EQ(built.windowWidth, 650);
    EXPECT_EQ(built.windowHeight, 450);
    EXPECT_EQ(built.serverUrl.rfind(L"http://", 0), 0u);
    EXPECT_EQ(built.serverUrl.substr(built.serverUrl.size() - 3), L"/fs");
}

TEST_F(PatcherStateTest, InitializeWritesTheStartUpLinesInOrder) {
    {
        Patcher patcher(config);
        EXPECT_TRUE(patcher.Initialize());
    }
    std::vector<std::wstring> lines = ReadLogMessages(L"patcher.log");
    std::vector<std::wstring> expected = {
        L"=== Vorlen Patcher " VORLEN_VERSION_TEXT L" ===", L"Inicjalizacja patchera...",
        L"URL serwera: " + config.serverUrl, L"Plik gry: Vorlen.exe", L"HTTP zainicjalizowany",
        L"Patcher zamknięty"};
    EXPECT_EQ(lines, expected);
}

TEST_F(PatcherStateTest, DestroyingWithoutARunWritesOnlyTheLastLine) {
    Logger::Open(L"patcher.log");
    { Patcher patcher(config); }
    EXPECT_FALSE(Logger::IsOpen());
    std::vector<std::wstring> lines = ReadLogMessages(L"patcher.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], L"Patcher zamknięty");
}

TEST_F(PatcherStateTest, StartIsIgnoredWhileCheckingOrDownloading) {
    Patcher patcher(config);
    for (UpdatePhase busy : {UpdatePhase::Checking, UpdatePhase::Downloading}) {
        PatcherTestAccess::SetPhase(patcher, busy);
        UpdateState marker;
        marker.status = L"marker";
        marker.overallDone = 7;
        patcher.PublishProgress(marker);
        patcher.Cancel();
        PatcherTestAccess::SetExitRequested(patcher, true);
        patcher.StartUpdate();
        EXPECT_FALSE(PatcherTestAccess::HasWorker(patcher));
        EXPECT_EQ(patcher.GetProgress().status, L"marker");
        EXPECT_EQ(patcher.GetProgress().overallDone, 7u);
        EXPECT_TRUE(PatcherTestAccess::CancelRequested(patcher));
        EXPECT_TRUE(patcher.IsExitRequested());
        EXPECT_EQ(patcher.GetPhase(), busy);
    }
}

TEST_F(PatcherStateTest, StartInErrorClearsFlagsAndRecordAndRunsAgain) {
    // No patch list is published: every run ends in Error.
    Patcher patcher(config);
    ASSERT_TRUE(patcher.Initialize());
    PatcherTestAccess::SetPhase(patcher, UpdatePhase::Error);
    UpdateState marker;
    marker.status = L"old";
    marker.fileCount = 9;
    patcher.PublishProgress(marker);
    patcher.Cancel();
    patcher.StartUpdate();
    ASSERT_TRUE(PatcherTestAccess::HasWorker(patcher));
    EXPECT_FALSE(PatcherTestAccess::CancelRequested(patcher));
    PatcherTestAccess::WaitForRun(patcher);
    EXPECT_EQ(patcher.GetPhase(), UpdatePhase::Error);
    EXPECT_EQ(patcher.GetProgress().status.rfind(L"Nie można pobrać listy plików: HTTP Error: 404", 0), 0u);

    // A second start in Error is accepted and runs again.
    patcher.StartUpdate();
    ASSERT_TRUE(PatcherTestAccess::HasWorker(patcher));
    PatcherTestAccess::WaitForRun(patcher);
    int runs = 0;
    for (const std::wstring& line : ReadLogMessages(L"patcher.log")) {
        if (line == L"--- Rozpoczęcie procesu aktualizacji ---") ++runs;
    }
    EXPECT_EQ(runs, 2);
}

TEST_F(PatcherStateTest, RecordIsResetAtStartBeforeTheFirstPublish) {
    // The version file stalls, so the run stays in its first stage while we look.
    folder.Put("patcher_version.txt", VORLEN_VERSION_TEXT);
    config.serverUrl = ServerRoot() + L"/slow/3000/" + folder.name;
    Patcher patcher(config);
    ASSERT_TRUE(patcher.Initialize());
    UpdateState marker;
    marker.status = L"old";
    marker.overallTotal = 5;
    patcher.PublishProgress(marker);
    patcher.StartUpdate();
    UpdateState state = patcher.GetProgress();
    EXPECT_TRUE(state.status.empty() || state.status == L"Sprawdzanie wersji patchera...");
    EXPECT_EQ(state.overallTotal, 0u);
    // A start request while the first stages run is ignored, without blocking.
    patcher.StartUpdate();
    EXPECT_EQ(patcher.GetPhase(), UpdatePhase::Idle);
}

TEST_F(PatcherStateTest, DestructorCancelsARunningDownloadAndLogsLast) {
    std::string big = PatternBytes(4 * 1024 * 1024);
    folder.Put("big.bin", big);
    folder.Put("patchlist.txt", "big.bin " + Md5Hex(big) + " 4194304\n");
    // Every 8 KiB piece comes 50 ms apart: the download takes far longer than the test.
    std::wstring slowRoot = ServerRoot() + L"/slow/50/" + folder.name;
    config.serverUrl = slowRoot;
    DWORD started = 0;
    {
        Patcher patcher(config);
        ASSERT_TRUE(patcher.Initialize());
        patcher.StartUpdate();
        ASSERT_TRUE(WaitFor([&] { return patcher.GetPhase() == UpdatePhase::Downloading; }, 60000));
        ASSERT_TRUE(WaitFor([&] { return patcher.GetProgress().fileDone > 0; }, 30000));
        started = GetTickCount();
    }
    EXPECT_LT(GetTickCount() - started, 20000u) << "the destructor must not wait for the whole file";
    std::vector<std::wstring> lines = ReadLogMessages(L"patcher.log");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.back(), L"Patcher zamknięty");
    EXPECT_EQ(lines[lines.size() - 2], L"Pobieranie anulowane");
    EXPECT_FALSE(FileExists(L"big.bin.tmp"));
    EXPECT_FALSE(FileExists(L"big.bin"));
}

TEST_F(PatcherStateTest, PublishedRecordsAreNeverTorn) {
    Patcher patcher(config);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (uint32_t i = 1; i <= 200000 && !stop.load(); ++i) {
            UpdateState state;
            state.status = std::wstring(i % 50 + 1, L'x');
            state.fileDone = state.fileTotal = state.overallDone = state.overallTotal = i;
            state.fileIndex = state.fileCount = i;
            state.speed = i;
            state.secondsLeft = static_cast<int32_t>(i);
            patcher.PublishProgress(state);
        }
    });
    int torn = 0;
    for (int reads = 0; reads < 200000; ++reads) {
        UpdateState s = patcher.GetProgress();
        uint32_t i = s.fileDone;
        if (i == 0) continue;
        if (s.fileTotal != i || s.overallDone != i || s.overallTotal != i || s.fileIndex != i ||
            s.fileCount != i || s.speed != i || s.secondsLeft != static_cast<int32_t>(i) ||
            s.status.size() != i % 50 + 1) {
            ++torn;
        }
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
