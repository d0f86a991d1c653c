// Scanning of numbers in grid text exactly as formatted single-precision
// extraction from a classic-locale stream reads them, only much faster.
#pragma once

#include <cstdint>
#include <cstring>

// True for the characters a classic-locale stream skips as whitespace:
// space, tab, line feed, vertical tab, form feed, carriage return.
inline bool IsGridSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

struct FloatScan {
    const char* next;  // first character not consumed
    bool ok;           // a value was extracted
    float value;       // the value when ok, else 0
};

// Skips leading whitespace in [p, end), then reads one number the way
// `stream >> float` does in the classic locale: an optional sign, digits with
// at most one decimal point, and an exponent ("e" or "E", optional sign,
// digits) once a digit has been seen. The characters so gathered must form a
// complete number, otherwise the scan fails ("", "-", ".", "1e", "1e+").
// The value is the correctly rounded float of the decimal text; a value beyond
// the float range fails, one below it rounds towards zero (subnormals kept).
// `next` stands behind the gathered characters (also on failure); the scan
// never reads at or beyond `end`.
FloatScan ScanFloat(const char* p, const char* end);

// ScanFloat, and also what GIS software writes for values a float does not
// hold: the words "nan", "inf" and "infinity" (any case, optional sign), and
// numbers beyond the float range, which become infinite (-1.7976931348623157e+308
// is -infinity). No-data values use it, so that "nan" and the double range's
// limits are values like any other.
FloatScan ScanFloatOrNonFinite(const char* p, const char* end);

// ---- The exact fast conversion, shared by the full scan and the grid's
// plain decimals ----

// The one digit test of the grid reader and the scanner.
inline bool IsDigit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

// Powers of ten that a double holds exactly: 10^k = 2^k * 5^k and 5^22 < 2^53.
constexpr double kExactPow10[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPow10 = 22;
constexpr uint64_t kTwoPow53 = uint64_t(1) << 53;

// The exact fast conversion of mantissa * 10^exp10; false when it does not
// apply and the slow path must decide.
//
// With mantissa < 2^53 and |exp10| <= 22 both operands are exact doubles, so
// the one IEEE multiplication or division yields d = the exact value rounded
// once to double. Rounding d on to float can only differ from rounding the
// exact value when d lands exactly on a float midpoint: every midpoint is
// itself a double, and rounding to double is monotonic, so an exact value
// strictly below (above) a midpoint gives a d at or below (above) it. When d
// is not a midpoint it lies on the same side of every midpoint as the exact
// value, and the float of d is the correctly rounded float. (For mantissas
// below 2^24 and exponents up to 10 both operands are exact floats, and this
// matches the known result that rounding one product or quotient of floats
// through 53 >= 2*24+2 bits first is harmless.) Results lie
// between 10^-22 and 2^53 * 10^22 < 10^38, inside the normal float range,
// where the float midpoints are the doubles whose low 29 significand bits
// are a one followed by 28 zeros.
inline bool ConvertExact(uint64_t mantissa, int64_t exp10, float& result) {
    if (mantissa >= kTwoPow53 || exp10 < -kMaxExactPow10 || exp10 > kMaxExactPow10) return false;
    const double m = static_cast<double>(mantissa);
    const double d = exp10 < 0 ? m / kExactPow10[-exp10] : m * kExactPow10[exp10];
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    if ((bits & 0x1FFFFFFFu) == 0x10000000u) return false;
    result = static_cast<float>(d);
    return true;
}

// The token nearly every grid cell holds, read on the spot: an optional
// minus, at most 15 digits with at most one decimal point, then whitespace
// or the end. Gives exactly what ScanFloatOrNonFinite gives (the same digits
// go through the same conversion); false for any other token, or a value the
// fast conversion cannot settle, which the full scan then reads.
inline bool ScanPlainDecimal(const char* p, const char* end, FloatScan& scan) {
    while (p < end && IsGridSpace(*p)) ++p;
    const bool negative = p < end && *p == '-';
    p += negative;
    uint64_t mantissa = 0;
    const char* const digits = p;
    for (; p < end && IsDigit(*p); ++p) mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    const int64_t integerDigits = p - digits;
    int64_t fractionDigits = 0;
    if (p < end && *p == '.') {
        const char* const fraction = ++p;
        for (; p < end && IsDigit(*p); ++p) mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
        fractionDigits = p - fraction;
    }
    const int64_t count = integerDigits + fractionDigits;
    if (count < 1 || count > 15 || (p < end && !IsGridSpace(*p))) return false;
    float value = 0.0f;
    if (mantissa != 0 && !ConvertExact(mantissa, -fractionDigits, value)) return false;
    scan = {p, true, negative ? -value : value};
    return true;
}
