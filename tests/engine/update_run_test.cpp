#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

#include "app/logger.h"
#include "app/patcher_version.h"
#include "base/unique_handle.h"
#include "base/names_and_limits.h"
#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "support/test_signing.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// One whole run of the engine against a folder of the local patch server, in a
// temporary game folder, read back through the phase, the record and the log.
class UpdateRunTest : public ::testing::Test {
protected:
    UpdateRunTest() : cwd(game.Path()) {
        // A game name of our own: the tests run side by side in one Wine session.
        config.gameExecutable = L"VorlenGame-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount()) + L".exe";
        config.serverUrl = served.Url();
    }

    PatchFile Publish(const std::string& path, const std::string& bytes) { return served.Publish(path, bytes); }
    void PublishList(const std::vector<PatchFile>& files) {
        std::string text;
        for (const PatchFile& f : files) text += f.path + " " + f.md5 + " " + std::to_string(f.size) + "\n";
        served.Put("patchlist.txt", text);
    }

    // Starts one run and waits for it to end.
    void Run() {
        if (!patcher) {
            patcher.reset(new Patcher(config));
            ASSERT_TRUE(patcher->Initialize());
        }
        patcher->StartUpdate();
        PatcherTestAccess::WaitForRun(*patcher);
    }

    // The last run's own log lines: the lines before and the engine's last line after are cut.
    std::vector<std::wstring> RunLog() {
        std::vector<std::wstring> lines = ReadLogMessages(L"patcher.log");
        auto start = std::find(lines.rbegin(), lines.rend(), L"--- Rozpoczęcie procesu aktualizacji ---");
        std::vector<std::wstring> run(start == lines.rend() ? lines.end() : std::prev(start.base()), lines.end());
        if (!run.empty() && run.back() == L"Patcher zamknięty") run.pop_back();
        return run;
    }

    ServedFolder served{L"run"};
    TempDir game;
    ScopedCurrentDir cwd;
    PatcherConfig config = MakeDefaultConfig();
    std::unique_ptr<Patcher> patcher;
};

TEST_F(UpdateRunTest, TypicalRunFetchesTheTwoStaleFilesOfForty) {
    std::vector<PatchFile> files;
    for (int i = 0; i < 40; ++i) {
        std::string name = "data/file" + std::to_string(i) + ".bin";
        files.push_back(Publish(name, PatternBytes(1000 + i, i)));
    }
    PublishList(files);
    served.Put("patcher_version.txt", VORLEN_VERSION_TEXT "\r\n");
    CreateDirectoryW(L"data", nullptr);
    for (int i = 0; i < 40; ++i) {
        if (i == 7 || i == 31) continue;  // missing
        WriteBytes(L"data\\file" + std::to_wstring(i) + L".bin", PatternBytes(1000 + i, i));
    }
    WriteBytes(L"data\\file7.bin", "stale");

    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
    UpdateState last = patcher->GetProgress();
    EXPECT_EQ(last.status, L"Aktualizacja zakończona! Możesz uruchomić grę.");
    EXPECT_EQ(last.overallTotal, 1007u + 1031u);
    EXPECT_EQ(last.overallDone, 1007u + 1031u);
    EXPECT_EQ(last.fileDone, 0u);
    EXPECT_EQ(last.fileTotal, 0u);
    EXPECT_EQ(last.speed, 0.0);
    EXPECT_EQ(last.secondsLeft, 0);
    EXPECT_EQ(last.fileIndex, 0u);
    EXPECT_EQ(last.fileCount, 2u);
    EXPECT_EQ(ReadBytes(L"data\\file7.bin"), PatternBytes(1007, 7));
    EXPECT_EQ(ReadBytes(L"data\\file31.bin"), PatternBytes(1031, 31));

    size_t listSize = ReadBytes(served.path + L"\\patchlist.txt").size();
    std::vector<std::wstring> expected = {
        L"--- Rozpoczęcie procesu aktualizacji ---",
        L"Serwer proxy: brak",
        L"Sprawdzanie wersji patchera...",
        L"Patcher aktualny",
        L"Pobieranie listy plików...",
        L"Patchlist pobrany, rozmiar: " + std::to_wstring(listSize) + L" bajtów",
        L"Sparsowano plików: 40",
        L"Sprawdzanie plików lokalnych...",
        L"Sprawdzanie plików zakończone",
        L"Plików do aktualizacji: 2",
        L"Łączny rozmiar: 0 MB",
        L"--- Rozpoczęcie pobierania ---",
        L"[1/2] Pobieranie: data\\file7.bin",
        L"Pobrano, weryfikacja MD5...",
        L"MD5 OK, zamiana plików...",
        L"Usuwanie starego pliku: data\\file7.bin",
        L"Przenoszenie: data\\file7.bin.tmp -> data\\file7.bin",
        L"OK",
        L"Plik zaktualizowany pomyślnie",
        L"[2/2] Pobieranie: data\\file31.bin",
        L"Pobrano, weryfikacja MD5...",
        L"MD5 OK, zamiana plików...",
        L"Przenoszenie: data\\file31.bin.tmp -> data\\file31.bin",
        L"OK",
        L"Plik zaktualizowany pomyślnie",
        L"--- Pobieranie zakończone pomyślnie ---",
    };
    EXPECT_EQ(RunLog(), expected);
    patcher.reset();
    EXPECT_EQ(ReadLogMessages(L"patcher.log").back(), L"Patcher zamknięty");
}

TEST_F(UpdateRunTest, EverythingCurrentCompletesWithTheByteFieldsAtOne) {
    std::vector<PatchFile> files = {Publish("a.bin", "a"), Publish("b.bin", "b"), Publish("c.bin", "c")};
    PublishList(files);
    for (const char* name : {"a", "b", "c"}) WriteBytes(Utf8(std::string(name) + ".bin"), name);
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
    UpdateState last = patcher->GetProgress();
    EXPECT_EQ(last.status, L"Wszystkie pliki są aktualne!");
    EXPECT_EQ(last.fileDone, 1u);
    EXPECT_EQ(last.fileTotal, 1u);
    EXPECT_EQ(last.overallDone, 1u);
    EXPECT_EQ(last.overallTotal, 1u);
    EXPECT_EQ(last.fileCount, 3u);
    std::vector<std::wstring> log = RunLog();
    EXPECT_EQ(log.back(), L"Wszystkie pliki aktualne - brak do pobrania");
    EXPECT_EQ(log[log.size() - 2], L"Łączny rozmiar: 0 MB");
    EXPECT_EQ(log[log.size() - 3], L"Plików do aktualizacji: 0");
}

TEST_F(UpdateRunTest, TotalSizeIsLoggedInWholeMebibytesRoundedDown) {
    PatchFile a = Publish("a.bin", "a");
    a.size = 3 * 1048576 - 1;  // the list's size feeds only the totals
    PublishList({a});
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
    std::vector<std::wstring> log = RunLog();
    EXPECT_NE(std::find(log.begin(), log.end(), L"Łączny rozmiar: 2 MB"), log.end());
}

TEST_F(UpdateRunTest, PatchListNotFetchedEndsInError) {
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Error);
    EXPECT_EQ(patcher->GetProgress().status, L"Nie można pobrać listy plików: HTTP Error: 404");
    EXPECT_EQ(RunLog().back(), L"BŁĄD: Nie można pobrać patchlist: HTTP Error: 404");
}

TEST_F(UpdateRunTest, ListWithoutAValidLineEndsInError) {
    served.Put("patchlist.txt", "just-one-field\n\n   \r\n");
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Error);
    EXPECT_EQ(patcher->GetProgress().status, L"Lista plików jest pusta lub uszkodzona");
    std::vector<std::wstring> log = RunLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], L"Patchlist pobrany, rozmiar: 21 bajtów");
    EXPECT_EQ(log[log.size() - 2], L"Sparsowano plików: 0");
    EXPECT_EQ(log.back(), L"BŁĄD: Lista plików pusta");
}

TEST_F(UpdateRunTest, PathLeavingTheGameFolderRefusesTheWholeListBeforeAnyFileIsTouched) {
    PatchFile good = Publish("good.bin", "good");
    PatchFile evil = Publish("evil.bin", "evil");
    evil.path = "../evil.bin";
    WriteBytes(L"good.bin", "local");
    PublishList({good, evil});
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Error);
    EXPECT_EQ(patcher->GetProgress().status, L"Lista plików jest pusta lub uszkodzona");
    EXPECT_EQ(RunLog().back(), L"BŁĄD: Niedozwolona ścieżka w liście plików: ../evil.bin");
    EXPECT_EQ(ReadBytes(L"good.bin"), "local");
    EXPECT_FALSE(FileExists(game.Path() + L"\\..\\evil.bin"));
    for (const std::string& request : served.Requests()) {
        EXPECT_TRUE(request == "patcher_version.txt" || request == "patchlist.txt") << request;
    }
}

TEST_F(UpdateRunTest, CancelBeforeTheCheckEndsTheRunAsCancelledWhileChecking) {
    std::vector<PatchFile> files;
    for (int i = 0; i < 400; ++i) files.push_back(Publish("f" + std::to_string(i) + ".bin", "x"));
    PublishList(files);  // about 20 KiB: three slow pieces
    config.serverUrl = ServerRoot() + L"/slow/400/" + served.name;
    patcher.reset(new Patcher(config));
    ASSERT_TRUE(patcher->Initialize());
    patcher->StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return patcher->GetPhase() == UpdatePhase::Checking; }, 30000));
    patcher->Cancel();
    PatcherTestAccess::WaitForRun(*patcher);
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Idle);
    EXPECT_EQ(patcher->GetProgress().status, L"Anulowano");
    std::vector<std::wstring> log = RunLog();
    EXPECT_EQ(log.back(), L"Anulowano przez użytkownika");
    EXPECT_EQ(log[log.size() - 2], L"Sprawdzanie plików lokalnych...");
}

TEST_F(UpdateRunTest, CancelWhileDownloadingEndsIdle) {
    PatchFile big = Publish("big.bin", PatternBytes(2 * 1024 * 1024, 3));
    PublishList({big});
    config.serverUrl = ServerRoot() + L"/slow/30/" + served.name;
    patcher.reset(new Patcher(config));
    ASSERT_TRUE(patcher->Initialize());
    patcher->StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return patcher->GetProgress().fileDone > 0; }, 60000));
    patcher->Cancel();
    PatcherTestAccess::WaitForRun(*patcher);
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Idle);
    EXPECT_EQ(patcher->GetProgress().status, L"Anulowano");
    EXPECT_EQ(RunLog().back(), L"Pobieranie anulowane");
    EXPECT_FALSE(FileExists(L"big.bin.tmp"));
}

TEST_F(UpdateRunTest, CloseJustBeforeAFilesTransferStopsItAndEndsTheRunCancelled) {
    PublishList({Publish("a.bin", PatternBytes(300000, 4)), Publish("b.bin", "b")});
    patcher.reset(new Patcher(config));
    ASSERT_TRUE(patcher->Initialize());
    // After the stage's own check and before the client clears its flag.
    PatcherTestAccess::SetBeforeFileTransfer(*patcher, [this] { patcher->Cancel(); });
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Idle);
    EXPECT_EQ(patcher->GetProgress().status, L"Anulowano");
    std::vector<std::wstring> log = RunLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::wstring>(log.end() - 3, log.end()),
              std::vector<std::wstring>({L"[1/2] Pobieranie: a.bin", L"BŁĄD: Pobieranie nie powiodło się: a.bin",
                                         L"Pobieranie anulowane"}));
    EXPECT_FALSE(FileExists(L"a.bin"));
    EXPECT_FALSE(FileExists(L"a.bin.tmp"));
    std::vector<std::string> requests = served.Requests();
    EXPECT_EQ(std::find(requests.begin(), requests.end(), "b.bin"), requests.end());
}

TEST_F(UpdateRunTest, FailedDownloadKeepsTheStageErrorOnScreenAndAcceptsANewStart) {
    PatchFile a = Publish("a.bin", "content");
    a.md5 = Md5Hex("other");
    PublishList({a});
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Error);
    EXPECT_EQ(patcher->GetProgress().status, L"Błąd weryfikacji pliku: a.bin");
    EXPECT_EQ(RunLog().back(), L"BŁĄD: Pobieranie nie powiodło się");

    // Fixed on the server: the next start is accepted and completes.
    PublishList({Publish("a.bin", "content")});
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
    EXPECT_EQ(ReadBytes(L"a.bin"), "content");
    // The user's proxy was looked up once, for the first run only.
    std::vector<std::wstring> log = ReadLogMessages(L"patcher.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), L"Serwer proxy: brak"), 1);
}

TEST_F(UpdateRunTest, NewerPatcherThatCannotBeDownloadedCountsAsNoUpdate) {
    served.Put("patcher_version.txt", "  " + NextVersionText() + "\t\n");  // but no Vorlen-Patcher.exe
    PublishList({Publish("a.bin", "a")});
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
    std::vector<std::wstring> log = RunLog();
    EXPECT_EQ(log[3], L"Patcher aktualny");
    std::vector<std::string> requests = served.Requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), "Vorlen-Patcher.exe"), requests.end());
}

TEST_F(UpdateRunTest, ExceptionInAStageEndsTheRunInErrorInsteadOfTheProcess) {
    PublishList({Publish("a.bin", "a")});
    patcher.reset(new Patcher(config));
    ASSERT_TRUE(patcher->Initialize());
    PatcherTestAccess::SetTickSource(*patcher, []() -> uint64_t { throw std::runtime_error("clock"); });
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Error);
    EXPECT_EQ(patcher->GetProgress().status, L"Nieoczekiwany błąd aktualizacji");
    EXPECT_EQ(RunLog().back(), L"BŁĄD: Nieoczekiwany wyjątek: clock");
}

// --- signed releases ---------------------------------------------------------

// The engine as a build with a signing key compiled in, against releases this
// test signs; the clock is the test's.
class KeyedRunTest : public UpdateRunTest {
protected:
    KeyedRunTest() { StartKeyed(); }

    // A new engine, as a new start of the program is: only the game folder's record remains.
    void StartKeyed(const std::wstring& serverUrl = L"") {
        if (!serverUrl.empty()) config.serverUrl = serverUrl;
        patcher.reset();
        patcher.reset(new Patcher(config));
        ASSERT_TRUE(patcher->Initialize());
        PatcherTestAccess::SetSigningKeys(*patcher, {key.Public()});
        PatcherTestAccess::SetUtcClock(*patcher, [this] { return now; });
    }

    // The served list's statement as release `number`.
    ReleaseStatement ReleaseOfServedList(uint64_t number) {
        return StatementFor(number, ReadBytes(served.path + L"\\patchlist.txt"));
    }
    void PutStatement(const ReleaseStatement& statement) {
        served.Put("patchlist.txt.sig", Signed(statement, {&key}));
    }
    // What the server was asked for since the last call.
    std::vector<std::string> NewRequests() {
        std::vector<std::string> all = served.Requests();
        std::vector<std::string> fresh(all.begin() + std::min(seen, all.size()), all.end());
        seen = all.size();
        return fresh;
    }
    std::wstring Status() { return patcher->GetProgress().status; }

    TestSigningKey key;
    int64_t now = 1798761599 - 3600;  // an hour before 2026-12-31T23:59:59Z
    size_t seen = 0;
};

TEST_F(KeyedRunTest, StatementComesFirstAndItsReleaseBecomesTheFloor) {
    PublishList({Publish("a.bin", "a"), Publish("data/b.bin", "bb")});
    served.Put("patcher_version.txt", VORLEN_VERSION_TEXT "\r\n");
    PutStatement(ReleaseOfServedList(5));
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
    std::vector<std::wstring> log = RunLog();
    ASSERT_GE(log.size(), 10u);
    EXPECT_EQ(std::vector<std::wstring>(log.begin() + 1, log.begin() + 10),
              std::vector<std::wstring>({L"Serwer proxy: brak", L"Sprawdzanie podpisu wydania...",
                                         L"Podpis wydania poprawny: wydanie 5, klucz " + Utf8(key.Public().id),
                                         L"Sprawdzanie wersji patchera...", L"Patcher aktualny",
                                         L"Pobieranie listy plików...", log[7],
                                         L"Lista plików zgodna z podpisanym wydaniem", L"Sparsowano plików: 2"}));
    EXPECT_EQ(NewRequests(), std::vector<std::string>({"patchlist.txt.sig", "patcher_version.txt", "patchlist.txt",
                                                       "a.bin", "data/b.bin"}));
    EXPECT_EQ(ReadBytes(L"vorlen-release.dat"), "release 5\n");

    // An older signed release, as anyone holding its files can serve it: refused
    // before anything else is asked for, in this process even without the record.
    PublishList({Publish("a.bin", "old a")});
    PutStatement(ReleaseOfServedList(4));
    for (bool recordDeleted : {false, true}) {
        if (recordDeleted) {
            ASSERT_TRUE(DeleteFileW(L"vorlen-release.dat"));
        }
        Run();
        EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Error);
        EXPECT_EQ(Status(), L"Serwer podaje starsze wydanie niż zainstalowane");
        EXPECT_EQ(RunLog().back(), L"BŁĄD: Wydanie starsze niż zainstalowane (4 < 5)");
        EXPECT_EQ(NewRequests(), std::vector<std::string>({"patchlist.txt.sig"}));
        EXPECT_EQ(ReadBytes(L"a.bin"), "a");
    }

    // A player who deleted the record starts from 0 at the next start, as a fresh install does.
    StartKeyed();
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
    EXPECT_EQ(ReadBytes(L"a.bin"), "old a");
    EXPECT_EQ(ReadBytes(L"vorlen-release.dat"), "release 4\n");
    EXPECT_FALSE(FileExists(L"vorlen-release.dat.tmp"));
}

TEST_F(KeyedRunTest, StatementOver4KiBIsRefusedUnread) {
    PublishList({Publish("a.bin", "a")});
    served.Put("patchlist.txt.sig", Signed(ReleaseOfServedList(3), {&key}) + std::string(kLargestReleaseStatement, '#'));
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Error);
    EXPECT_EQ(Status(), L"Podpis wydania jest nieprawidłowy");
    EXPECT_EQ(RunLog().back(), L"BŁĄD: Nieprawidłowy podpis wydania: Odpowiedź serwera jest zbyt duża (ponad 4 KiB)");
    EXPECT_EQ(NewRequests(), std::vector<std::string>({"patchlist.txt.sig"}));
    EXPECT_FALSE(FileExists(L"vorlen-release.dat"));
}

TEST_F(KeyedRunTest, RecordThatCannotBeReadOrWrittenIsLoggedAndTheRunGoesOn) {
    ASSERT_TRUE(CreateDirectoryW(L"vorlen-release.dat", nullptr));
    PublishList({Publish("a.bin", "a")});
    PutStatement(ReleaseOfServedList(9));
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
    std::vector<std::wstring> log = RunLog();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(std::vector<std::wstring>(log.begin() + 2, log.begin() + 6),
              std::vector<std::wstring>({L"Sprawdzanie podpisu wydania...",
                                         L"BŁĄD: Plik vorlen-release.dat jest nieczytelny - pominięto",
                                         L"Podpis wydania poprawny: wydanie 9, klucz " + Utf8(key.Public().id),
                                         L"BŁĄD: Nie można zapisać pliku vorlen-release.dat"}));
    EXPECT_EQ(ReadBytes(L"a.bin"), "a");
    EXPECT_FALSE(FileExists(L"vorlen-release.dat.tmp"));
}

TEST_F(KeyedRunTest, CloseWhileTheStatementIsOnItsWayEndsTheRunCancelled) {
    PublishList({Publish("a.bin", "a")});
    PutStatement(ReleaseOfServedList(1));
    // The server holds every answer back until the gate file exists.
    const std::wstring gate = served.name + L"-gate";
    StartKeyed(ServerRoot() + L"/gate/" + gate + L"/" + served.name);
    patcher->StartUpdate();
    ASSERT_TRUE(WaitFor([&] { return served.Requests().size() == 1; }, 30000));
    patcher->Cancel();
    WriteBytes(SessionDir() + L"\\www\\" + gate, "");
    PatcherTestAccess::WaitForRun(*patcher);
    DeleteFileW((SessionDir() + L"\\www\\" + gate).c_str());
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Idle);
    EXPECT_EQ(Status(), L"Anulowano");
    std::vector<std::wstring> log = RunLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(std::vector<std::wstring>(log.end() - 2, log.end()),
              std::vector<std::wstring>({L"Sprawdzanie podpisu wydania...", L"Anulowano przez użytkownika"}));
    EXPECT_EQ(served.Requests(), std::vector<std::string>({"patchlist.txt.sig"}));
    EXPECT_FALSE(FileExists(L"vorlen-release.dat"));
}

// --- the game-running check ---------------------------------------------------

class GameRunningTest : public UpdateRunTest {
protected:
    // Starts a copy of the stand-in under `name`, alive for a minute.
    void StartGameCopy(const std::wstring& name) {
        std::wstring copy = game / name;
        ASSERT_TRUE(CopyFileW((BuildDir() + L"\\tests\\game_stand_in.exe").c_str(), copy.c_str(), FALSE));
        std::wstring command = L"\"" + copy + L"\" wait 60";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   game.Path().c_str(), &startup, &info));
        UniqueKernelHandle thread(info.hThread);
        running.Reset(info.hProcess);
        ASSERT_TRUE(WaitFor([&] { return FileExists(L"stand-in-started.txt"); }, 20000));
    }
    ~GameRunningTest() override {
        if (running) {
            TerminateProcess(running.Get(), 0);
            WaitForSingleObject(running.Get(), 10000);
        }
    }
    UniqueKernelHandle running;
};

TEST_F(GameRunningTest, RunningGameStopsTheRunBeforeAnyRequest) {
    StartGameCopy(config.gameExecutable);
    PublishList({Publish("a.bin", "a")});
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Error);
    UpdateState last = patcher->GetProgress();
    EXPECT_EQ(last.status, L"Zamknij grę (" + config.gameExecutable + L") przed aktualizacją!");
    EXPECT_EQ(last.fileCount + last.overallTotal + last.fileDone, 0u);
    EXPECT_EQ(RunLog(), std::vector<std::wstring>({L"--- Rozpoczęcie procesu aktualizacji ---",
                                                   L"BŁĄD: Gra jest uruchomiona"}));
    EXPECT_TRUE(served.Requests().empty());
    EXPECT_FALSE(FileExists(L"a.bin"));
}

TEST_F(GameRunningTest, NameDifferingOnlyInAsciiCaseCountsAsTheGame) {
    std::wstring upper = config.gameExecutable;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    StartGameCopy(upper);
    Run();
    EXPECT_EQ(RunLog().back(), L"BŁĄD: Gra jest uruchomiona");
}

TEST_F(GameRunningTest, NameThatOnlyContainsTheGameNameDoesNot) {
    StartGameCopy(L"My" + config.gameExecutable);
    PublishList({Publish("a.bin", "a")});
    Run();
    EXPECT_EQ(patcher->GetPhase(), UpdatePhase::Completed);
}

}  // namespace
