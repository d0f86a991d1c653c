// Hand-written exact formatters for the OBJ writer and the window texts.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest text FormatFixed2 writes: sign, 39 integer digits, point, 2 decimals.
constexpr std::size_t kMaxFixed2Chars = 43;

// Writes `value` like "%.2f" with ties rounded away from zero on the exact
// binary value (0.125 -> 0.13, -0.125 -> -0.13, 2.675f -> 2.67), a minus sign
// for every negative value including negative zero (-0.00), and "inf", "-inf"
// or "nan" for non-finite values. Writes no terminator; returns the end.
// `out` must have room for kMaxFixed2Chars characters, all of which it may
// use as scratch space.
char* FormatFixed2(char* out, float value);

// Writes a signed decimal integer without padding or grouping; returns the
// end. `out` needs room for 20 characters. No terminator is written.
char* FormatInt(char* out, int64_t value);
char* FormatUInt(char* out, uint64_t value);
