#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "engine/patcher.h"
#include "selfupdate/self_update.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct StartReport {
    std::wstring module, commandLine, folder;
};

StartReport ReadReport(const std::wstring& path) {
    std::istringstream in(ReadBytes(path));
    std::string a, b, c;
    std::getline(in, a);
    std::getline(in, b);
    std::getline(in, c);
    return {Utf8(a), Utf8(b), Utf8(c)};
}

// A copy of the game's stand-in at `path`, deleted at the end of the scope.
struct StandInCopy {
    explicit StandInCopy(const std::wstring& path) : path(path) {
        made = CopyFileW((BuildDir() + L"\\tests\\game_stand_in.exe").c_str(), path.c_str(), FALSE) != FALSE;
    }
    ~StandInCopy() {
        if (made) DeleteFileW(path.c_str());
    }
    StandInCopy(const StandInCopy&) = delete;
    StandInCopy& operator=(const StandInCopy&) = delete;
    std::wstring path;
    bool made = false;
};

class GameLaunchTest : public ::testing::Test {
protected:
    GameLaunchTest() {
        // The folder of the patcher, which is this program here.
        std::wstring own = OwnExecutablePath();
        patcherFolder = own.substr(0, own.find_last_of(L'\\'));
        DeleteFileW((patcherFolder + L"\\stand-in-started.txt").c_str());
    }

    TempDir game{L"vorlen game launch"};
    PatcherConfig config = MakeDefaultConfig();
    std::wstring patcherFolder;
};

TEST_F(GameLaunchTest, GameStartsFromTheCurrentFolderWithoutArguments) {
    StandInCopy inTheGame(game / config.gameExecutable);
    ASSERT_TRUE(inTheGame.made);
    ScopedCurrentDir cwd(game.Path());
    Patcher patcher(config);
    patcher.LaunchGame();
    ASSERT_TRUE(WaitFor([&] { return FileExists(game / L"stand-in-started.txt"); }, 20000));
    StartReport report = ReadReport(game / L"stand-in-started.txt");
    EXPECT_EQ(report.folder, game.Path());
    EXPECT_EQ(report.module, game / L"Vorlen.exe");
    // The command line is the program's own path alone: no arguments.
    std::wstring line = report.commandLine;
    while (!line.empty() && (line.back() == L' ' || line.back() == L'"')) line.pop_back();
    if (!line.empty() && line.front() == L'"') line.erase(0, 1);
    EXPECT_EQ(line, game / L"Vorlen.exe");
}

TEST_F(GameLaunchTest, MissingGameStartsNothingAndDoesNotFail) {
    // A game beside the patcher, for a launch that wrongly looked there to find.
    StandInCopy besideThePatcher(patcherFolder + L"\\" + config.gameExecutable);
    ASSERT_TRUE(besideThePatcher.made);
    Patcher patcher(config);
    {
        ScopedCurrentDir cwd(game.Path());
        patcher.LaunchGame();
    }

    // The control: the same patcher, launching later from a folder that holds the
    // game, starts it; a start made by the first launch would have reported first.
    TempDir other{L"vorlen game launch control"};
    StandInCopy inTheOther(other / config.gameExecutable);
    ASSERT_TRUE(inTheOther.made);
    {
        ScopedCurrentDir cwd(other.Path());
        patcher.LaunchGame();
    }
    ASSERT_TRUE(WaitFor([&] { return FileExists(other / L"stand-in-started.txt"); }, 20000));
    EXPECT_EQ(ReadReport(other / L"stand-in-started.txt").module, other / config.gameExecutable);
    EXPECT_FALSE(FileExists(game / L"stand-in-started.txt"));
    EXPECT_FALSE(FileExists(patcherFolder + L"\\stand-in-started.txt"));
}

TEST_F(GameLaunchTest, GameIsLookedForInTheCurrentFolderNotBesideThePatcher) {
    StandInCopy besideThePatcher(patcherFolder + L"\\" + config.gameExecutable);
    StandInCopy inTheGame(game / config.gameExecutable);
    ASSERT_TRUE(besideThePatcher.made);
    ASSERT_TRUE(inTheGame.made);
    ScopedCurrentDir cwd(game.Path());
    Patcher patcher(config);
    patcher.LaunchGame();
    ASSERT_TRUE(WaitFor([&] { return FileExists(game / L"stand-in-started.txt"); }, 20000));
    StartReport report = ReadReport(game / L"stand-in-started.txt");
    EXPECT_EQ(report.module, game / config.gameExecutable);
    EXPECT_EQ(report.folder, game.Path());
    EXPECT_FALSE(FileExists(patcherFolder + L"\\stand-in-started.txt"));
}

}  // namespace
