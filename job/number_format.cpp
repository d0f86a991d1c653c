// Exact number-to-text conversion for the OBJ file and the window texts,
// without the C library's formatted output.
#include "job/number_format.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// "00", "01", ..., "99": the text of every two-digit group.
constexpr char kDigitPairs[] =
    "00010203040506070809"
    "10111213141516171819"
    "20212223242526272829"
    "30313233343536373839"
    "40414243444546474849"
    "50515253545556575859"
    "60616263646566676869"
    "70717273747576777879"
    "80818283848586878889"
    "90919293949596979899";

// Writes exactly `width` digits of `value` (which must fit), left-padded with
// zeros, from the right end backwards.
void WriteDigitsBackwards(char* end, uint64_t value, int width) {
    while (width >= 2) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * (value % 100), 2);
        value /= 100;
        width -= 2;
    }
    if (width == 1) end[-1] = static_cast<char>('0' + value % 10);
}

// Number of decimal digits of a 32-bit value (at least 1).
inline int DigitCount(uint32_t value) {
    static constexpr uint32_t kPowers[] = {0,         10,         100,     1000,     10000,
                                           100000,    1000000,    10000000, 100000000,
                                           1000000000};
    const int estimate = ((32 - __builtin_clz(value | 1)) * 1233) >> 12;  // log10 via log2
    return estimate + (value >= kPowers[estimate] ? 1 : 0);
}

// Writes the digits straight into place, two at a time from the right end,
// in 32-bit arithmetic: every coordinate and nearly every index fits.
inline char* WriteUnsigned32(char* out, uint32_t value) {
    char* const end = out + DigitCount(value);
    char* p = end;
    while (value >= 100) {
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        std::memcpy(p - 2, kDigitPairs + 2 * value, 2);
    } else {
        p[-1] = static_cast<char>('0' + value);
    }
    return end;
}

char* WriteUnsigned(char* out, uint64_t value) {
    if (value <= 0xFFFFFFFFu) return WriteUnsigned32(out, static_cast<uint32_t>(value));
    // Above 32 bits: the leading part, then exactly nine more digits.
    constexpr uint64_t kBillion = 1000000000;
    out = WriteUnsigned(out, value / kBillion);
    WriteDigitsBackwards(out + 9, value % kBillion, 9);
    return out + 9;
}

// Integers up to 2^128 (39 digits), written in 19-digit groups so that only
// the first step needs 128-bit division.
char* WriteUnsigned128(char* out, unsigned __int128 value) {
    constexpr uint64_t kGroup = 10000000000000000000u;  // 10^19
    if (value <= ~uint64_t(0)) return WriteUnsigned(out, static_cast<uint64_t>(value));
    out = WriteUnsigned128(out, value / kGroup);
    out += 19;
    WriteDigitsBackwards(out, static_cast<uint64_t>(value % kGroup), 19);
    return out;
}

}  // namespace

char* FormatLargeFixed2(char* out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const uint32_t biasedExponent = (bits >> 23) & 0xFFu;
    const uint32_t fraction = bits & 0x7FFFFFu;
    if (biasedExponent == 0xFFu) {
        if (fraction != 0) return PutText(out, "nan");
        return PutText(out, (bits >> 31) != 0 ? "-inf" : "inf");
    }
    if ((bits >> 31) != 0) *out++ = '-';
    // The float is an integer, significand * 2^(exponent), below 2^128.
    const unsigned __int128 integer =
        static_cast<unsigned __int128>(fraction | 0x800000u) << (biasedExponent - 150);
    out = WriteUnsigned128(out, integer);
    return PutText(out, ".00");
}

char* FormatInt(char* out, int64_t value) {
    if (value < 0) {
        *out++ = '-';
        // Unsigned negation also covers INT64_MIN.
        return WriteUnsigned(out, uint64_t(0) - static_cast<uint64_t>(value));
    }
    return WriteUnsigned(out, static_cast<uint64_t>(value));
}

char* FormatUInt(char* out, uint64_t value) {
    return WriteUnsigned(out, value);
}

char* FormatFixed(char* out, double value, int decimals) {
    static constexpr uint64_t kPowers[kMaxFixedDecimals + 1] = {1,      10,      100,      1000,      10000,
                                                                100000, 1000000, 10000000, 100000000, 1000000000};
    const uint64_t power = kPowers[decimals];
    const double scaled = std::round(std::fabs(value) * static_cast<double>(power));
    // Beyond 64 bits, or not a number: never a coordinate of a terrain.
    if (!(scaled < 9.0e18)) return FormatFixed2(out, static_cast<float>(value));
    const uint64_t units = static_cast<uint64_t>(scaled);
    if (value < 0 && units != 0) *out++ = '-';
    out = FormatUInt(out, units / power);
    if (decimals == 0) return out;
    *out++ = '.';
    uint64_t fraction = units % power;
    for (int i = decimals - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    return out + decimals;
}

std::string ShortestText(float value) {
    char text[48];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string ShortestText(double value) {
    char text[48];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}
