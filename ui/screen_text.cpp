#include "ui/screen_text.h"

#include <cmath>
#include <cstdio>
#include <limits>

int64_t Fraction::Of(int64_t length) const {
    if (whole == 0) return 0;
    // Both counters fit in 32 bits and lengths are small, so the product cannot
    // overflow 64 bits; the division truncates toward zero.
    return length * part / whole;
}

float Fraction::Degrees() const {
    if (whole == 0) return 0.0f;
    return static_cast<float>(static_cast<double>(part) * 360.0 / static_cast<double>(whole));
}

Fraction ByteFraction(uint32_t done, uint32_t total) {
    if (total == 0) return Fraction{};
    return Fraction{static_cast<int64_t>(done), static_cast<int64_t>(total)};
}

Fraction CheckingFraction(uint32_t fileIndex, uint32_t fileCount) {
    const int32_t index = static_cast<int32_t>(fileIndex);
    const int32_t count = static_cast<int32_t>(fileCount);
    if (count <= 0) return Fraction{};
    return Fraction{index, count};
}

std::wstring FormatSize(uint32_t bytes) {
    static const wchar_t* const units[] = {L"B", L"KiB", L"MiB", L"GiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value *= 0.0009765625;  // exactly 1/1024
        ++unit;
    }
    char number[64];
    std::snprintf(number, sizeof number, unit == 0 ? "%.0f" : "%.2f", value);
    std::wstring text(number, number + std::char_traits<char>::length(number));
    return text + units[unit];
}

std::wstring FormatSpeed(double bytesPerSecond) {
    // The fraction of a byte is dropped. A value the counter cannot hold (negative,
    // not a number, or beyond 32 bits) would be undefined to convert; show the
    // nearest it can.
    uint32_t whole = 0;
    if (bytesPerSecond >= static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        whole = std::numeric_limits<uint32_t>::max();
    } else if (bytesPerSecond > 0.0) {
        whole = static_cast<uint32_t>(bytesPerSecond);
    }
    return FormatSize(whole) + L"/s";
}

std::wstring FormatTimeLeft(int32_t secondsLeft) {
    if (secondsLeft <= 0) return L"--:--";
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(secondsLeft / 60),
                  static_cast<int>(secondsLeft % 60));
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

std::wstring FormatPercent(const Fraction& fraction) {
    return std::to_wstring(fraction.Percent()) + L"%";
}

std::wstring FormatSizePair(uint32_t done, uint32_t total) {
    return FormatSize(done) + L" / " + FormatSize(total);
}
