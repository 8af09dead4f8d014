#include <gtest/gtest.h>

#include "selfupdate/version_check.h"

namespace {

bool Newer(const std::string& body) {
    return IsNewerVersion(ScanVersion(std::wstring(body.begin(), body.end())), ScanVersion(L"1.0.5.0"));
}

TEST(VersionComparison, EqualOrOlderIsNotNewer) {
    EXPECT_FALSE(Newer("1.0.5.0"));
    EXPECT_FALSE(Newer("1.0.5"));
    EXPECT_FALSE(Newer("1.0.4.99"));
    EXPECT_FALSE(Newer("0.9.9.9"));
}

TEST(VersionComparison, NewerByEachComponent) {
    EXPECT_TRUE(Newer("1.0.5.1"));
    EXPECT_TRUE(Newer("1.0.6.0"));
    EXPECT_TRUE(Newer("1.1"));
    EXPECT_TRUE(Newer("2"));
}

TEST(VersionComparison, ComponentsCompareAsNumbersNotText) {
    EXPECT_TRUE(Newer("1.0.10.0"));
    EXPECT_FALSE(Newer("1.0.-1.0"));
    EXPECT_EQ(ScanVersion(L"1.0.-1.0").parts[2], -1);
}

TEST(VersionComparison, TextThatDoesNotStartWithANumberReadsAsZero) {
    EXPECT_FALSE(Newer("v1.0.6.0"));
    PatcherVersionNumber v = ScanVersion(L"v1.0.6.0");
    EXPECT_EQ(v.parts[0] + v.parts[1] + v.parts[2] + v.parts[3], 0);
    EXPECT_FALSE(Newer("garbage"));
    // A byte-order mark is not trimmed: the scan stops at it.
    EXPECT_FALSE(IsNewerVersion(ScanVersion(L"\uFEFF" L"9.0.0.0"), ScanVersion(L"1.0.5.0")));
}

TEST(VersionComparison, ScanStopsAtTheFirstMismatchAndIgnoresTheRest) {
    PatcherVersionNumber v = ScanVersion(L"1.2.x.4");
    EXPECT_EQ(v.parts[0], 1);
    EXPECT_EQ(v.parts[1], 2);
    EXPECT_EQ(v.parts[2], 0);
    EXPECT_EQ(v.parts[3], 0);
    EXPECT_EQ(ScanVersion(L"1.2.3.4.5 beta").parts[3], 4);
}

TEST(VersionText, BlanksTabsAndLineEndsAroundAreTrimmed) {
    EXPECT_EQ(TrimVersionText("1.0.6.0\r\n"), "1.0.6.0");
    EXPECT_EQ(TrimVersionText(" \t1.0.6.0 \t "), "1.0.6.0");
    EXPECT_EQ(TrimVersionText(" \r\n\t"), "");
    EXPECT_EQ(TrimVersionText(""), "");
    EXPECT_TRUE(Newer(TrimVersionText("\t 1.0.6.0\r\n")));
}

}  // namespace
