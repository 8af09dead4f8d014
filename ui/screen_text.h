#pragma once
// The numbers and texts a frame shows, kept apart from any drawing so they can be
// checked as plain functions.

#include <cstdint>
#include <string>

// A share of a whole, kept as two integers so that percentages and pixel widths
// come out exactly (a float quotient shows 53 of 100 bytes as 52%).
// The makers below never give a negative whole; a zero whole is an empty share.
struct Fraction {
    int64_t part = 0;
    int64_t whole = 0;

    bool IsPositive() const { return whole > 0 && part > 0; }
    // trunc(length * part / whole); 0 for an empty share. Not clamped: a share
    // above one gives more than `length`.
    int64_t Of(int64_t length) const;
    int64_t Percent() const { return Of(100); }
    float Degrees() const;  // part / whole of a full turn
};

inline Fraction Whole() { return Fraction{1, 1}; }
// done / total of two byte counters; empty when total is 0.
Fraction ByteFraction(uint32_t done, uint32_t total);
// fileIndex / fileCount with both read as signed values; empty unless fileCount > 0.
Fraction CheckingFraction(uint32_t fileIndex, uint32_t fileCount);

// "0B", "1023B", "1.00KiB", "1024.00KiB", "10.00MiB", "4.00GiB": two decimals
// from KiB on, no space, GiB the largest unit.
std::wstring FormatSize(uint32_t bytes);
// FormatSize of the whole bytes per second, then "/s".
std::wstring FormatSpeed(double bytesPerSecond);
// "mm:ss" with minutes not limited to two digits; "--:--" when nothing is known.
std::wstring FormatTimeLeft(int32_t secondsLeft);
// The truncated percentage followed by "%".
std::wstring FormatPercent(const Fraction& fraction);
// "<done> / <total>", both through FormatSize.
std::wstring FormatSizePair(uint32_t done, uint32_t total);
