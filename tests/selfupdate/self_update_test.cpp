#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "app/logger.h"
#include "app/patcher_version.h"
#include "base/unique_handle.h"
#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "selfupdate/self_update.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

std::wstring StandInPath() { return BuildDir() + L"\\tests\\game_stand_in.exe"; }

// --- the replacement command line ----------------------------------------------

TEST(ReplacementCommand, HasTheExactTextWithEveryPathQuoted) {
    std::wstring command;
    ASSERT_TRUE(BuildReplacementCommand(L"C:\\Gry\\Vorlen 2\\Vorlen-Patcher.exe", command));
    EXPECT_EQ(command,
              L"cmd.exe /C echo. & echo   Aktualizacja Vorlen Patcher... & echo. & "
              L"ping 127.0.0.1 -n 3 > nul & del \"C:\\Gry\\Vorlen 2\\Vorlen-Patcher.exe\" & "
              L"move \"C:\\Gry\\Vorlen 2\\Vorlen-Patcher.exe.new\" \"C:\\Gry\\Vorlen 2\\Vorlen-Patcher.exe\" & "
              L"echo   Gotowe! Uruchamianie... & ping 127.0.0.1 -n 2 > nul & "
              L"start \"\" \"C:\\Gry\\Vorlen 2\\Vorlen-Patcher.exe\"");
}

TEST(ReplacementCommand, PathThatWouldNotFitIsNeverTruncated) {
    std::wstring command = L"untouched";
    std::wstring fits = L"C:\\" + std::wstring(208, L'a');          // 211 characters
    std::wstring tooLong = L"C:\\" + std::wstring(209, L'a');       // 212 characters
    EXPECT_TRUE(BuildReplacementCommand(fits, command));
    EXPECT_LT(command.size(), 1040u);
    command = L"untouched";
    EXPECT_FALSE(BuildReplacementCommand(tooLong, command));
    EXPECT_EQ(command, L"untouched");
    EXPECT_FALSE(BuildReplacementCommand(L"", command));
}

TEST(ReplacementCommand, RealCommandInterpreterSwapsTheExecutableAndStartsIt) {
    TempDir dir(L"vorlen self update");  // blanks in the path
    std::wstring folder = dir / L"Gra Vorlen";
    CreateDirectoryW(folder.c_str(), nullptr);
    ScopedCurrentDir cwd(folder);
    std::wstring exe = folder + L"\\Vorlen-Patcher.exe";
    std::string oldBytes = ReadBytes(StandInPath());
    std::string newBytes = oldBytes + "new version trailer";
    WriteBytes(exe, oldBytes);
    WriteBytes(exe + L".new", newBytes);

    ASSERT_TRUE(StartReplacementCommand(exe));
    ASSERT_TRUE(WaitFor([&] { return FileExists(L"stand-in-started.txt"); }, 60000))
        << "the new program was not started";
    EXPECT_EQ(ReadBytes(exe), newBytes);
    EXPECT_FALSE(FileExists(exe + L".new"));
    std::istringstream report(ReadBytes(L"stand-in-started.txt"));
    std::string module, commandLine, startedIn, noCurrentDirectory;
    std::getline(report, module);
    std::getline(report, commandLine);
    std::getline(report, startedIn);
    std::getline(report, noCurrentDirectory);
    EXPECT_EQ(Utf8(startedIn), folder) << "the new patcher runs in the old one's folder";
    // What keeps Windows' cmd.exe from running a "ping" out of the game folder
    // (Wine's ignores it) reaches the interpreter and, through it, the new patcher.
    EXPECT_NE(noCurrentDirectory, "-");
    Sleep(500);  // let the command interpreter end before the folder goes
}

// --- the version check and the download -------------------------------------------

class SelfUpdateTest : public ::testing::Test {
protected:
    SelfUpdateTest() : cwd(game.Path()) {
        config.serverUrl = served.Url();
        staging = OwnExecutablePath() + L".new";
        DeleteFileW(staging.c_str());
    }
    ~SelfUpdateTest() override { DeleteFileW(staging.c_str()); }

    void Start(const std::wstring& serverUrl) {
        config.serverUrl = serverUrl;
        patcher.reset(new Patcher(config));
        ASSERT_TRUE(patcher->Initialize());
    }

    ServedFolder served{L"self"};
    TempDir game;
    ScopedCurrentDir cwd;
    PatcherConfig config = MakeDefaultConfig();
    std::unique_ptr<Patcher> patcher;
    std::wstring staging;
};

TEST_F(SelfUpdateTest, EqualVersionFetchesNothing) {
    served.Put("patcher_version.txt", VORLEN_VERSION_TEXT "\r\n");
    served.Put("Vorlen-Patcher.exe", "MZ new");
    Start(served.Url());
    EXPECT_FALSE(patcher->CheckSelfUpdate());
    EXPECT_EQ(served.Requests(), std::vector<std::string>({"patcher_version.txt"}));
    EXPECT_FALSE(FileExists(staging));
}

TEST_F(SelfUpdateTest, NewerVersionIsStagedBesideTheRunningProgram) {
    std::string exe = "MZ" + PatternBytes(50000, 8);
    served.Put("patcher_version.txt", "\t" + NextVersionText() + " \r\n");
    served.Put("Vorlen-Patcher.exe", exe);
    Start(served.Url());
    EXPECT_TRUE(patcher->CheckSelfUpdate());
    EXPECT_EQ(ReadBytes(staging), exe);
    UpdateState last = patcher->GetProgress();
    EXPECT_EQ(last.status, L"Pobieranie nowej wersji patchera...");
    EXPECT_EQ(last.fileDone, 50002u);
    EXPECT_EQ(last.fileTotal, 50002u);
    EXPECT_EQ(last.overallDone, 50002u);
    EXPECT_EQ(last.overallTotal, 50002u);
    EXPECT_EQ(last.speed, 0.0);
    EXPECT_EQ(last.fileIndex + last.fileCount, 0u);
}

TEST_F(SelfUpdateTest, BlankOrMissingVersionFileIsNoUpdate) {
    Start(served.Url());
    EXPECT_FALSE(patcher->CheckSelfUpdate());
    served.Put("patcher_version.txt", " \r\n\t ");
    EXPECT_FALSE(patcher->CheckSelfUpdate());
    EXPECT_FALSE(FileExists(staging));
}

TEST_F(SelfUpdateTest, FailedDownloadLeavesNoStagingFile) {
    served.Put("patcher_version.txt", NextVersionText());
    WriteBytes(staging, "left over from an earlier attempt");
    Start(served.Url());  // the executable itself is not published: 404
    EXPECT_FALSE(patcher->CheckSelfUpdate());
    EXPECT_FALSE(FileExists(staging));
}

TEST_F(SelfUpdateTest, BodyCutShortIsResumedOrElseNeverStaged) {
    std::string exe = "MZ" + PatternBytes(100000, 9);
    served.Put("patcher_version.txt", NextVersionText());
    served.Put("Vorlen-Patcher.exe", exe);
    // A link that drops after every 30000 bytes, to a server that takes ranges.
    Start(ServerRoot() + L"/drop/30000/strong/" + served.name);
    EXPECT_TRUE(patcher->CheckSelfUpdate());
    EXPECT_EQ(ReadBytes(staging), exe);
    UpdateState last = patcher->GetProgress();
    EXPECT_EQ(last.fileDone, 100002u);
    EXPECT_EQ(last.fileTotal, 100002u);
    patcher.reset();
    std::vector<std::wstring> log = ReadLogMessages(L"patcher.log");
    ASSERT_GE(log.size(), 4u);
    std::vector<std::wstring> resumed(log.end() - 4, log.end() - 1);
    EXPECT_EQ(resumed, std::vector<std::wstring>({L"Wznawianie pobierania od 30000 bajtów (próba 1/5)",
                                                  L"Wznawianie pobierania od 60000 bajtów (próba 1/5)",
                                                  L"Wznawianie pobierania od 90000 bajtów (próba 1/5)"}));
    DeleteFileW(staging.c_str());

    // Without a validator it starts over once; cut again, it is not staged.
    Start(ServerRoot() + L"/cut/30000/" + served.name);
    EXPECT_FALSE(patcher->CheckSelfUpdate());
    EXPECT_FALSE(FileExists(staging));
    Logger::Close();
    log = ReadLogMessages(L"patcher.log");
    ASSERT_GE(log.size(), 2u);
    std::vector<std::wstring> tail(log.end() - 2, log.end());
    EXPECT_EQ(tail, std::vector<std::wstring>({L"Wznawianie pobierania od 0 bajtów (próba 1/5)",
                                               L"BŁĄD: Nowa wersja patchera pobrana niekompletnie (30000 z 100002 bajtów)"}));
}

TEST_F(SelfUpdateTest, EmptyBodyIsNeverStaged) {
    served.Put("patcher_version.txt", NextVersionText());
    served.Put("Vorlen-Patcher.exe", "");  // 200 with Content-Length 0
    Start(served.Url());
    EXPECT_FALSE(patcher->CheckSelfUpdate());
    EXPECT_FALSE(FileExists(staging));
}

TEST_F(SelfUpdateTest, CancelledDownloadLeavesNoStagingFile) {
    served.Put("patcher_version.txt", NextVersionText());
    served.Put("Vorlen-Patcher.exe", "MZ" + PatternBytes(400000, 10));
    Start(ServerRoot() + L"/slow/30/" + served.name);
    std::thread canceller([&] {
        WaitFor([&] { return patcher->GetProgress().fileDone > 0; }, 30000);
        patcher->Cancel();
    });
    EXPECT_FALSE(patcher->CheckSelfUpdate());
    canceller.join();
    EXPECT_FALSE(FileExists(staging));
}

// --- the whole self-update of a real engine, message box answered -----------------

// self_update_host, copied into a game folder with blanks in its path as
// "Vorlen-Patcher.exe", runs one update against a server that publishes the
// game's stand-in as a newer patcher.
class WholeSelfUpdate : public ::testing::Test {
protected:
    struct HostResult {
        DWORD exitCode = 99;
        std::string phase, exitRequested, status, box;
    };

    WholeSelfUpdate() : folder(dir / L"Moja Gra"), exe(folder + L"\\Vorlen-Patcher.exe") {
        CreateDirectoryW(folder.c_str(), nullptr);
        host = BuildDir() + L"\\tests\\self_update_host.exe";
        CopyFileW(host.c_str(), exe.c_str(), FALSE);
        served.Put("patcher_version.txt", NextVersionText() + "\r\n");
        served.Put("Vorlen-Patcher.exe", published);
    }

    HostResult RunHost(const std::wstring& mode = L"") {
        HostResult result;
        std::wstring command = L"\"" + exe + L"\" " + served.Url() + L" " + mode;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                            folder.c_str(), &startup, &info)) {
            ADD_FAILURE() << "the host did not start";
            return result;
        }
        UniqueKernelHandle process(info.hProcess);
        UniqueKernelHandle thread(info.hThread);
        EXPECT_EQ(WaitForSingleObject(process.Get(), 90000), WAIT_OBJECT_0);
        GetExitCodeProcess(process.Get(), &result.exitCode);
        std::istringstream lines(ReadBytes(folder + L"\\host-result.txt"));
        std::getline(lines, result.phase);
        std::getline(lines, result.exitRequested);
        std::getline(lines, result.status);
        std::getline(lines, result.box);
        return result;
    }

    ServedFolder served{L"whole"};
    TempDir dir{L"vorlen whole update"};
    std::wstring folder;
    std::wstring exe;
    std::wstring host;
    std::string published = ReadBytes(StandInPath());
};

TEST_F(WholeSelfUpdate, PublishedPatcherReplacesTheRunningOneAndStartsIt) {
    HostResult result = RunHost();
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.phase, "0") << "Idle";
    EXPECT_EQ(result.exitRequested, "1");
    EXPECT_EQ(Utf8(result.status), L"Uruchamianie nowej wersji patchera...");
    EXPECT_EQ(Utf8(result.box).substr(0, 35), L"Dostępna jest nowa wersja patchera.");

    // The command line waits for the old program, swaps it and starts the new one.
    ASSERT_TRUE(WaitFor([&] { return FileExists(folder + L"\\stand-in-started.txt"); }, 60000));
    EXPECT_EQ(ReadBytes(exe), published);
    EXPECT_FALSE(FileExists(exe + L".new"));
    std::vector<std::wstring> log = ReadLogMessages(folder + L"\\patcher.log");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 2], L"Dostępna nowa wersja patchera - aktualizacja");
    EXPECT_EQ(log.back(), L"Patcher zamknięty");
    for (const std::wstring& line : log) EXPECT_NE(line, L"Pobieranie listy plików...");
    Sleep(500);
}

TEST_F(WholeSelfUpdate, CloseWhileTheMessageBoxIsOpenStartsNothing) {
    // The run ends with the box: the list is never asked for.
    PatchFile entry = served.Publish("dane/plik.bin", "bytes");
    const std::string list = entry.path + " " + entry.md5 + " " + std::to_string(entry.size) + "\n";
    served.Put("patchlist.txt", list);
    HostResult result = RunHost(L"close-in-box");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(Utf8(result.box).substr(0, 35), L"Dostępna jest nowa wersja patchera.");
    EXPECT_EQ(result.phase, "0") << "Idle";
    EXPECT_EQ(result.exitRequested, "0");
    EXPECT_EQ(Utf8(result.status), L"Anulowano");
    std::vector<std::wstring> log = ReadLogMessages(folder + L"\\patcher.log");
    std::vector<std::wstring> tail(log.end() - std::min<size_t>(log.size(), 3), log.end());
    EXPECT_EQ(tail, std::vector<std::wstring>({L"Dostępna nowa wersja patchera - aktualizacja",
                                               L"Aktualizacja patchera anulowana", L"Patcher zamknięty"}));
    EXPECT_EQ(served.Requests(), std::vector<std::string>({"patcher_version.txt", "Vorlen-Patcher.exe"}));
    EXPECT_FALSE(FileExists(exe + L".new")) << "the staged patcher was kept";
    // A started replacement command would delete the old program within seconds.
    EXPECT_FALSE(WaitFor([&] { return !FileExists(exe) || FileExists(folder + L"\\stand-in-started.txt"); },
                         5000))
        << "the replacement command ran";
    EXPECT_EQ(ReadBytes(exe), ReadBytes(host));
}

}  // namespace
