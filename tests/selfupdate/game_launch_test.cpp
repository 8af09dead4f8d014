#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "engine/patcher.h"
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

class GameLaunchTest : public ::testing::Test {
protected:
    TempDir game{L"vorlen game launch"};
    PatcherConfig config = MakeDefaultConfig();
};

TEST_F(GameLaunchTest, GameStartsFromTheCurrentFolderWithoutArguments) {
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\tests\\game_stand_in.exe").c_str(),
                          (game / L"Vorlen.exe").c_str(), FALSE));
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
    ScopedCurrentDir cwd(game.Path());
    Patcher patcher(config);
    patcher.LaunchGame();
    Sleep(300);
    EXPECT_FALSE(FileExists(game / L"stand-in-started.txt"));
}

TEST_F(GameLaunchTest, GameIsLookedForInTheCurrentFolderNotBesideThePatcher) {
    // The patcher (this program) lives in the build tree; the game only in the game folder.
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\tests\\game_stand_in.exe").c_str(),
                          (game / L"Vorlen.exe").c_str(), FALSE));
    TempDir elsewhere;
    ScopedCurrentDir cwd(elsewhere.Path());
    Patcher patcher(config);
    patcher.LaunchGame();
    Sleep(500);
    EXPECT_FALSE(FileExists(game / L"stand-in-started.txt"));
    EXPECT_FALSE(FileExists(elsewhere / L"stand-in-started.txt"));
}

}  // namespace
