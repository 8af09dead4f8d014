#include <windows.h>

#include <gtest/gtest.h>

#include "app/logger.h"
#include "app/patcher_version.h"
#include "base/unique_handle.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void TearDown() override { Logger::Close(); }
    TempDir dir;
    std::wstring logPath = dir / L"patcher.log";
};

bool IsStamp(const std::string& line) {
    if (line.size() < 11) return false;
    const char* shape = "[00:00:00] ";
    for (int i = 0; i < 11; ++i) {
        if (shape[i] == '0') {
            if (line[i] < '0' || line[i] > '9') return false;
        } else if (line[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

TEST_F(LoggerTest, BannerIsTheFirstLineWithStampAndCrLf) {
    Logger::Open(logPath);
    Logger::Close();
    std::string bytes = ReadBytes(logPath);
    const std::string banner = "=== Vorlen Patcher " VORLEN_VERSION_TEXT " ===";
    ASSERT_EQ(bytes.size(), 11u + banner.size() + 2u);
    EXPECT_TRUE(IsStamp(bytes));
    EXPECT_EQ(bytes.substr(11), banner + "\r\n");
    int hour = std::stoi(bytes.substr(1, 2));
    int minute = std::stoi(bytes.substr(4, 2));
    int second = std::stoi(bytes.substr(7, 2));
    EXPECT_LE(hour, 23);
    EXPECT_LE(minute, 59);
    EXPECT_LE(second, 59);
}

TEST_F(LoggerTest, PolishLettersAreUtf8WithoutByteOrderMark) {
    Logger::Open(logPath);
    Logger::Write(L"Patcher zamknięty");
    Logger::Write(L"BŁĄD: żółć");
    Logger::Close();
    std::string bytes = ReadBytes(logPath);
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(bytes.find("Patcher zamkni\xC4\x99ty\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("B\xC5\x81\xC4\x84" "D: \xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\r\n"),
              std::string::npos);
    EXPECT_EQ(bytes.find('\0'), std::string::npos) << "must not be UTF-16";
}

TEST_F(LoggerTest, EmptyMessageGivesStampAndLineEndOnly) {
    Logger::Open(logPath);
    Logger::Write(L"");
    Logger::Close();
    std::string bytes = ReadBytes(logPath);
    size_t second = bytes.find("\r\n") + 2;
    ASSERT_EQ(bytes.size() - second, 13u);
    EXPECT_TRUE(IsStamp(bytes.substr(second)));
    EXPECT_EQ(bytes.substr(second + 11), "\r\n");
}

TEST_F(LoggerTest, SecondOpenTruncatesThePreviousLog) {
    Logger::Open(logPath);
    for (int i = 0; i < 50; ++i) Logger::Write(L"a long line from the first run ...........");
    Logger::Close();
    Logger::Open(logPath);
    Logger::Write(L"second run");
    Logger::Close();
    std::vector<std::wstring> lines = ReadLogMessages(logPath);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"=== Vorlen Patcher " VORLEN_VERSION_TEXT L" ===");
    EXPECT_EQ(lines[1], L"second run");
}

TEST_F(LoggerTest, WritesBeforeOpenAndAfterCloseAreDropped) {
    Logger::Write(L"before open");
    EXPECT_FALSE(FileExists(logPath));
    Logger::Open(logPath);
    Logger::Write(L"inside");
    Logger::Close();
    Logger::Write(L"after close");
    Logger::Close();  // a second close is harmless
    std::vector<std::wstring> lines = ReadLogMessages(logPath);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], L"inside");
}

TEST_F(LoggerTest, UnwritableLocationLeavesTheLogClosedAndSilent) {
    std::wstring blocked = dir / L"no-such-folder\\patcher.log";
    Logger::Open(blocked);
    EXPECT_FALSE(Logger::IsOpen());
    Logger::Write(L"dropped");
    EXPECT_FALSE(FileExists(blocked));
}

TEST_F(LoggerTest, OthersMayReadButNotWriteTheOpenLog) {
    Logger::Open(logPath);
    UniqueFile reader(CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader);
    UniqueFile writer(CreateFileW(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer);
}

}  // namespace
