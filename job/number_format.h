// Hand-written exact formatters for the mesh formats and the window texts,
// and the shortest texts of numbers people read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Longest text FormatFixed2 writes: sign, 39 integer digits, point, 2 decimals.
constexpr std::size_t kMaxFixed2Chars = 43;
// Longest text FormatInt writes: "-9223372036854775808".
constexpr std::size_t kMaxIntChars = 20;

// Writes `value` like "%.2f" with ties rounded away from zero on the exact
// binary value (0.125 -> 0.13, -0.125 -> -0.13, 2.675f -> 2.67), a minus sign
// for every negative value including negative zero (-0.00), and "inf", "-inf"
// or "nan" for non-finite values. Writes no terminator; returns the end.
// `out` must have room for kMaxFixed2Chars characters, all of which it may
// use as scratch space.
inline char* FormatFixed2(char* out, float value);

// Writes a signed decimal integer without padding or grouping; returns the
// end. `out` needs room for kMaxIntChars characters. No terminator is written.
char* FormatInt(char* out, int64_t value);
char* FormatUInt(char* out, uint64_t value);

// The most decimals FormatFixed writes.
constexpr int kMaxFixedDecimals = 9;
// Longest text FormatFixed writes: FormatFixed2's (a value beyond 64 bits of
// units, which no terrain reaches, is written as FormatFixed2 writes it).
constexpr std::size_t kMaxFixedChars = kMaxFixed2Chars;

// Writes `value` with `decimals` decimals (0 to kMaxFixedDecimals), rounded
// half away from zero, without a minus sign for a value that rounds to zero.
// Writes no terminator; returns the end.
char* FormatFixed(char* out, double value, int decimals);

// The shortest text that reads back as the same value: "0.3048", "1e+30",
// "-9999.75", "nan", "-inf". For the texts people read (headers, summaries,
// world files), not for the mesh's coordinates.
std::string ShortestText(float value);
std::string ShortestText(double value);

// Copies `text` exactly (no terminator); returns the end.
inline char* PutText(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// ---- FormatFixed2, inline: it runs once per height ----

// FormatFixed2 of a value of at least 2^23 in magnitude, or not finite.
char* FormatLargeFixed2(char* out, float value);

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "digits are assembled in little-endian words");

// The eight decimal digits of `value` (below 10^8, leading zeros included) as
// byte values 0-9 in one word, the first digit in the lowest byte, so that
// storing the word writes them in reading order. Each step splits every lane
// of the word in two by exact multiply-and-shift division: 2 lanes of 4
// digits, 4 of 2, 8 of 1.
inline uint64_t EightDigitValues(uint32_t value) {
    uint64_t v = (value / 10000) | (uint64_t{value % 10000} << 32);
    uint64_t quotient = ((v * 10486) >> 20) & 0x0000007F0000007Full;  // lane / 100, lanes below 10^4
    v = quotient | ((v - quotient * 100) << 16);
    quotient = ((v * 103) >> 10) & 0x000F000F000F000Full;  // lane / 10, lanes below 100
    return quotient | ((v - quotient * 10) << 8);
}

// Writes `value` (below 10^8) without leading zeros; `out` needs room for 8
// characters whatever the value.
inline char* WriteBelow1e8(char* out, uint32_t value) {
    const uint64_t digits = EightDigitValues(value);
    // Leading zero digits are the low zero bytes; "0" keeps its last digit.
    const int leadingZeros = __builtin_ctzll(digits | (uint64_t{1} << 56)) / 8;
    const uint64_t text = (digits | 0x3030303030303030ull) >> (8 * leadingZeros);
    std::memcpy(out, &text, 8);
    return out + 8 - leadingZeros;
}

inline char* FormatFixed2(char* out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (((bits >> 23) & 0xFFu) >= 127 + 23) return FormatLargeFixed2(out, value);
    if ((bits >> 31) != 0) *out++ = '-';
    // |value| < 2^23: significand * 2^-shift with shift >= 1. In hundredths,
    // rounded half away from zero on the exact binary value, that is
    // (significand * 100 + 2^(shift - 1)) >> shift, exact in 64 bits (the
    // product is below 2^31); from shift 40 on the value is below 0.005.
    const uint32_t exponent = (bits >> 23) & 0xFFu;
    const uint64_t significand = (bits & 0x7FFFFFu) | (exponent != 0 ? 0x800000u : 0u);
    const uint32_t shift = 150 - (exponent != 0 ? exponent : 1);
    const uint32_t rounded =
        shift < 40 ? static_cast<uint32_t>((significand * 100 + (uint64_t{1} << (shift - 1))) >> shift) : 0;
    if (rounded >= 100000000) {
        out = WriteBelow1e8(out, rounded / 100);  // below 2^23
        const uint32_t cents = rounded % 100;
        out[0] = '.';
        out[1] = static_cast<char>('0' + cents / 10);
        out[2] = static_cast<char>('0' + cents % 10);
        return out + 3;
    }
    // Below 10^6, every height: six integer digits and the two decimals in
    // one word. At most five leading zeros go, so "0.05" keeps its "0".
    const uint64_t digits = EightDigitValues(rounded);
    const int leadingZeros = __builtin_ctzll(digits | (uint64_t{1} << 40)) / 8;
    const uint64_t text = digits | 0x3030303030303030ull;
    const uint64_t integerText = text >> (8 * leadingZeros);
    std::memcpy(out, &integerText, 8);
    out += 6 - leadingZeros;
    const uint32_t pointAndDecimals = '.' | static_cast<uint32_t>((text >> 48) << 8);
    std::memcpy(out, &pointAndDecimals, 4);
    return out + 3;
}
