#include <gtest/gtest.h>

#include "ui/screen_content.h"
#include "ui/screen_text.h"

namespace {

TEST(FormatSize, WholeBytesBelowOneKibibyte) {
    EXPECT_EQ(FormatSize(0), L"0B");
    EXPECT_EQ(FormatSize(1), L"1B");
    EXPECT_EQ(FormatSize(1023), L"1023B");
}

TEST(FormatSize, TwoDecimalsFromOneKibibyteOn) {
    EXPECT_EQ(FormatSize(1024), L"1.00KiB");
    EXPECT_EQ(FormatSize(1536), L"1.50KiB");
    EXPECT_EQ(FormatSize(10u * 1024 * 1024), L"10.00MiB");
    EXPECT_EQ(FormatSize(1024u * 1024 * 1024), L"1.00GiB");
}

TEST(FormatSize, UnitChangesOnlyAtAWhole1024) {
    EXPECT_EQ(FormatSize(1048575), L"1024.00KiB");
}

TEST(FormatSize, GibibytesAreTheLargestUnit) {
    EXPECT_EQ(FormatSize(4294967295u), L"4.00GiB");
}

TEST(FormatSpeed, DropsTheFractionOfAByte) {
    EXPECT_EQ(FormatSpeed(1536.9), L"1.50KiB/s");
    EXPECT_EQ(FormatSpeed(0.9), L"0B/s");
}

TEST(FormatSpeed, ValuesNoCounterHoldsShowTheNearestOne) {
    EXPECT_EQ(FormatSpeed(-5.0), L"0B/s");
    EXPECT_EQ(FormatSpeed(1e12), L"4.00GiB/s");
}

TEST(FormatTimeLeft, UnknownWhenNotPositive) {
    EXPECT_EQ(FormatTimeLeft(0), L"--:--");
    EXPECT_EQ(FormatTimeLeft(-1), L"--:--");
}

TEST(FormatTimeLeft, MinutesAndSecondsWithTwoDigitsEach) {
    EXPECT_EQ(FormatTimeLeft(5), L"00:05");
    EXPECT_EQ(FormatTimeLeft(65), L"01:05");
    EXPECT_EQ(FormatTimeLeft(3600), L"60:00");
}

TEST(FormatTimeLeft, MinutesAreNotLimitedToTwoDigits) {
    EXPECT_EQ(FormatTimeLeft(6000), L"100:00");
}

TEST(Percentages, TruncateTowardZero) {
    EXPECT_EQ(FormatPercent(ByteFraction(999, 1000)), L"99%");
    EXPECT_EQ(FormatPercent(ByteFraction(1000, 1000)), L"100%");
    EXPECT_EQ(FormatPercent(ByteFraction(0, 1000)), L"0%");
}

TEST(Percentages, EveryWholePercentIsShownExactly) {
    // A float quotient would show 53 of 100 as 52% and 59 of 100 as 58%.
    for (uint32_t k = 0; k <= 100; ++k) {
        EXPECT_EQ(FormatPercent(ByteFraction(k, 100)), std::to_wstring(k) + L"%") << k;
        EXPECT_EQ(FormatPercent(ByteFraction(k * 10, 1000)), std::to_wstring(k) + L"%") << k;
    }
}

TEST(Percentages, AreNotClampedAboveTheWhole) {
    EXPECT_EQ(FormatPercent(ByteFraction(3000, 1000)), L"300%");
}

TEST(Percentages, CompletedShowsAFullBarWithNothingDownloaded) {
    UpdateState state;  // overallTotal 0: every file was already current
    Fraction total = TotalBarFraction(UpdatePhase::Completed, state);
    EXPECT_EQ(FormatPercent(total), L"100%");
    EXPECT_EQ(total.Of(500), 500);
    EXPECT_TRUE(ShowsTotalPercent(UpdatePhase::Completed, state));
}

TEST(BarFill, WidthIsTheTruncatedShareOfTheBar) {
    EXPECT_EQ(ByteFraction(1, 4).Of(500), 125);
    EXPECT_EQ(ByteFraction(502, 1000).Of(500), 251);  // a float quotient gives 250
    EXPECT_EQ(ByteFraction(999, 1000).Of(500), 499);
    EXPECT_EQ(ByteFraction(1, 1000).Of(500), 0);
}

TEST(BarFill, EmptyWhenTheTotalIsUnknown) {
    Fraction none = ByteFraction(500, 0);
    EXPECT_FALSE(none.IsPositive());
    EXPECT_EQ(none.Of(500), 0);
    EXPECT_EQ(FormatPercent(none), L"0%");
}

TEST(BarFill, FileBarFollowsTheCurrentFileAndTotalBarTheWholeDownload) {
    UpdateState state;
    state.fileDone = 30;
    state.fileTotal = 120;
    state.overallDone = 600;
    state.overallTotal = 1000;
    EXPECT_EQ(FileBarFraction(state).Of(500), 125);
    EXPECT_EQ(TotalBarFraction(UpdatePhase::Downloading, state).Of(500), 300);
    EXPECT_EQ(TotalBarFraction(UpdatePhase::Error, state).Of(500), 300);
}

TEST(CheckingRing, SweepsTheCheckedShareOfAFullTurn) {
    Fraction checked = CheckingFraction(30, 100);
    EXPECT_FLOAT_EQ(checked.Degrees(), 108.0f);
    EXPECT_EQ(FormatPercent(checked), L"30%");
    EXPECT_FLOAT_EQ(CheckingFraction(100, 100).Degrees(), 360.0f);
}

TEST(CheckingRing, NoShareWithoutAFileCount) {
    EXPECT_EQ(CheckingFraction(3, 0).whole, 0);
    // The counters are read as signed values: a count past 2^31 is no count.
    EXPECT_EQ(CheckingFraction(3, 0x80000000u).whole, 0);
}

TEST(PhaseScreens, DownloadTextsNeedARunningDownloadWithAKnownTotal) {
    UpdateState state;
    state.overallTotal = 0;
    state.fileDone = 5;
    state.fileTotal = 10;
    EXPECT_FALSE(ShowsDownloadTexts(UpdatePhase::Downloading, state));
    EXPECT_FALSE(ShowsTotalPercent(UpdatePhase::Downloading, state));
    EXPECT_TRUE(ShowsFileBar(UpdatePhase::Downloading));  // still follows the file
    state.overallTotal = 100;
    EXPECT_TRUE(ShowsDownloadTexts(UpdatePhase::Downloading, state));
    EXPECT_FALSE(ShowsDownloadTexts(UpdatePhase::Error, state));
    EXPECT_FALSE(ShowsDownloadTexts(UpdatePhase::Completed, state));
}

TEST(PhaseScreens, FileBarOnlyDuringOrAfterADownload) {
    EXPECT_FALSE(ShowsFileBar(UpdatePhase::Idle));
    EXPECT_FALSE(ShowsFileBar(UpdatePhase::Checking));
    EXPECT_TRUE(ShowsFileBar(UpdatePhase::Downloading));
    EXPECT_FALSE(ShowsFileBar(UpdatePhase::Completed));
    EXPECT_TRUE(ShowsFileBar(UpdatePhase::Error));
}

TEST(MainButton, PlayFaceOnlyWhenCompleted) {
    EXPECT_EQ(MainButtonFor(UpdatePhase::Completed).face, ButtonFace::Play);
    for (UpdatePhase phase : {UpdatePhase::Idle, UpdatePhase::Checking, UpdatePhase::Downloading,
                              UpdatePhase::Error}) {
        EXPECT_EQ(MainButtonFor(phase).face, ButtonFace::Busy);
    }
}

TEST(MainButton, DimmedWhileARunChecksOrDownloadsEvenWhenHovered) {
    for (UpdatePhase phase : {UpdatePhase::Checking, UpdatePhase::Downloading}) {
        MainButtonLook look = MainButtonFor(phase);
        EXPECT_EQ(FaceEffectFor(look.enabled, true), FaceEffect::Dim);
        EXPECT_EQ(FaceEffectFor(look.enabled, false), FaceEffect::Dim);
    }
    for (UpdatePhase phase : {UpdatePhase::Idle, UpdatePhase::Completed, UpdatePhase::Error}) {
        MainButtonLook look = MainButtonFor(phase);
        EXPECT_EQ(FaceEffectFor(look.enabled, true), FaceEffect::Brighten);
        EXPECT_EQ(FaceEffectFor(look.enabled, false), FaceEffect::Plain);
    }
}

}  // namespace
