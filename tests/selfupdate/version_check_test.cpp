#include <gtest/gtest.h>

#include "selfupdate/version_check.h"

namespace {

// Against a fixed version of its own, not the patcher's: the comparison does not
// change when the patcher's version does.
const wchar_t kReference[] = L"2.4.7.0";

bool Newer(const std::string& body) {
    return IsNewerVersion(ScanVersion(std::wstring(body.begin(), body.end())), ScanVersion(kReference));
}

TEST(VersionComparison, EqualOrOlderIsNotNewer) {
    EXPECT_FALSE(Newer("2.4.7.0"));
    EXPECT_FALSE(Newer("2.4.7"));
    EXPECT_FALSE(Newer("2.4.6.99"));
    EXPECT_FALSE(Newer("1.9.9.9"));
}

TEST(VersionComparison, NewerByEachComponent) {
    EXPECT_TRUE(Newer("2.4.7.1"));
    EXPECT_TRUE(Newer("2.4.8.0"));
    EXPECT_TRUE(Newer("2.5"));
    EXPECT_TRUE(Newer("3"));
}

TEST(VersionComparison, ComponentsCompareAsNumbersNotText) {
    EXPECT_TRUE(Newer("2.4.10.0"));
    EXPECT_FALSE(Newer("2.4.-1.0"));
    EXPECT_EQ(ScanVersion(L"2.4.-1.0").parts[2], -1);
}

TEST(VersionComparison, TextThatDoesNotStartWithANumberReadsAsZero) {
    EXPECT_FALSE(Newer("v2.4.8.0"));
    PatcherVersionNumber v = ScanVersion(L"v2.4.8.0");
    EXPECT_EQ(v.parts[0] + v.parts[1] + v.parts[2] + v.parts[3], 0);
    EXPECT_FALSE(Newer("garbage"));
    // A byte-order mark is not trimmed: the scan stops at it.
    EXPECT_FALSE(IsNewerVersion(ScanVersion(L"\uFEFF" L"9.0.0.0"), ScanVersion(kReference)));
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
    EXPECT_EQ(TrimVersionText("2.4.8.0\r\n"), "2.4.8.0");
    EXPECT_EQ(TrimVersionText(" \t2.4.8.0 \t "), "2.4.8.0");
    EXPECT_EQ(TrimVersionText(" \r\n\t"), "");
    EXPECT_EQ(TrimVersionText(""), "");
    EXPECT_TRUE(Newer(TrimVersionText("\t 2.4.8.0\r\n")));
}

}  // namespace
