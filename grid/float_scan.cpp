// Float scanning for the grid reader: the same acceptance and the same bits as
// `stream >> float` in the classic locale, without stream, locale or heap.
#include "grid/float_scan.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Up to 19 significant digits always fit a uint64 (10^19 - 1 < 2^64).
constexpr int64_t kMaxFastDigits = 19;

// An exponent text is read exactly up to this size and saturates beyond it.
// Only a token longer than this many characters could bring such an exponent
// back into the float range, so saturating never changes a result.
constexpr int64_t kExponentCap = 1000000000000000;  // 10^15

// The slow path keeps this many leading significant digits. Every point where
// rounding to float changes direction (the midpoint of two neighbouring
// floats, including the overflow threshold 2^128 - 2^103) is a dyadic number
// (2m+1) * 2^k with m < 2^24 and k >= -150, whose exact decimal expansion has
// at most 113 significant digits. Cutting the digits after the 128th and
// appending a single "1" when any of them was non-zero therefore keeps the
// number on the same side of every midpoint as the full token.
constexpr int kMaxSlowDigits = 128;

// Unsigned integer of fixed capacity for the exact comparisons of the slow
// path. The largest operand there stays below 2^710 (see ConvertSlow).
struct BigUnsigned {
    uint32_t limbs[32] = {};  // 1024 bits, least significant first
    int size = 0;             // limbs in use, no leading zero limb
};

BigUnsigned MakeBig(uint32_t value) {
    BigUnsigned big;
    big.limbs[0] = value;
    big.size = value != 0 ? 1 : 0;
    return big;
}

// big = big * factor + addend
void MultiplyAdd(BigUnsigned& big, uint32_t factor, uint32_t addend) {
    uint64_t carry = addend;
    for (int i = 0; i < big.size; ++i) {
        const uint64_t t = uint64_t(big.limbs[i]) * factor + carry;
        big.limbs[i] = static_cast<uint32_t>(t);
        carry = t >> 32;
    }
    if (carry != 0) big.limbs[big.size++] = static_cast<uint32_t>(carry);
}

void MultiplyPow5(BigUnsigned& big, int64_t exponent) {
    constexpr uint32_t kPow5[] = {1, 5, 25, 125, 625, 3125, 15625, 78125, 390625, 1953125,
                                  9765625, 48828125, 244140625, 1220703125};
    for (; exponent >= 13; exponent -= 13) MultiplyAdd(big, kPow5[13], 0);
    MultiplyAdd(big, kPow5[exponent], 0);
}

void ShiftLeft(BigUnsigned& big, int64_t bits) {
    if (big.size == 0) return;
    const int words = static_cast<int>(bits / 32);
    const int rest = static_cast<int>(bits % 32);
    big.limbs[big.size] = 0;
    for (int i = big.size; i >= 0; --i) {
        const uint32_t low = i > 0 && rest != 0 ? big.limbs[i - 1] >> (32 - rest) : 0;
        big.limbs[i + words] = (big.limbs[i] << rest) | low;
    }
    for (int i = 0; i < words; ++i) big.limbs[i] = 0;
    big.size += words + 1;
    while (big.size > 0 && big.limbs[big.size - 1] == 0) --big.size;
}

int Compare(const BigUnsigned& a, const BigUnsigned& b) {
    if (a.size != b.size) return a.size < b.size ? -1 : 1;
    for (int i = a.size - 1; i >= 0; --i) {
        if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
    }
    return 0;
}

// Sign of digits * 10^exp10 minus the midpoint between the non-negative float
// with the bit pattern `bits` and the next float up: (2m+1) * 2^(q-1) for the
// float m * 2^q. Both sides are scaled to integers, 10^e = 5^e * 2^e.
int CompareWithMidpointAbove(const BigUnsigned& digits, int64_t exp10, uint32_t bits) {
    const uint32_t biased = bits >> 23;
    const uint32_t m = biased != 0 ? (bits & 0x7FFFFFu) | 0x800000u : bits;
    const int64_t q = biased != 0 ? int64_t(biased) - 150 : -149;
    BigUnsigned decimal = digits;
    BigUnsigned midpoint = MakeBig(2 * m + 1);
    if (exp10 >= 0) {
        MultiplyPow5(decimal, exp10);
    } else {
        MultiplyPow5(midpoint, -exp10);
    }
    const int64_t shift = exp10 - (q - 1);
    if (shift > 0) {
        ShiftLeft(decimal, shift);
    } else {
        ShiftLeft(midpoint, -shift);
    }
    return Compare(decimal, midpoint);
}

// Correctly rounded float of the significant digits [intBegin, intEnd)
// followed by [fracBegin, fracEnd) (no leading zero, at least one digit),
// times 10^exp10; +infinity when it rounds beyond the float range. A double
// estimate gives a float within one step of the result, and exact integer
// comparisons with the neighbouring midpoints settle it, ties to even.
float ConvertSlow(const char* intBegin, const char* intEnd,
                  const char* fracBegin, const char* fracEnd, int64_t exp10) {
    char digits[kMaxSlowDigits + 1];
    int count = 0;
    bool droppedNonZero = false;
    const char* const runs[2][2] = {{intBegin, intEnd}, {fracBegin, fracEnd}};
    for (const auto& run : runs) {
        for (const char* c = run[0]; c != run[1]; ++c) {
            if (count < kMaxSlowDigits) {
                digits[count++] = *c;
            } else {
                exp10 += 1;
                droppedNonZero = droppedNonZero || *c != '0';
            }
        }
    }
    if (droppedNonZero) {
        // Stands for the dropped digits: strictly above the kept prefix and
        // strictly below the prefix plus one unit of its last digit.
        digits[count++] = '1';
        exp10 -= 1;
    }

    // The value lies in [10^(count-1+exp10), 10^(count+exp10)).
    if (count + exp10 <= -46) return 0.0f;  // below 10^-46, under half of 2^-149
    if (count - 1 + exp10 >= 39) return HUGE_VALF;  // at least 10^39, over 2^128
    // From here -175 < exp10 < 39 and, with exp10 >= 0, count < 40. The
    // comparison operands stay below 2^25 * 5^175 * 2^(103+175) < 2^710
    // (midpoint side) and 10^129 * 2^150 < 2^580 (decimal side).

    BigUnsigned exact = MakeBig(0);
    uint64_t leading = 0;  // the first up to 19 digits
    int leadingCount = 0;
    for (int i = 0; i < count; i += 9) {
        const int chunk = count - i < 9 ? count - i : 9;
        uint32_t value = 0;
        for (int j = 0; j < chunk; ++j) value = value * 10 + uint32_t(digits[i + j] - '0');
        MultiplyAdd(exact, static_cast<uint32_t>(kExactPow10[chunk]), value);
    }
    for (; leadingCount < count && leadingCount < 19; ++leadingCount) {
        leading = leading * 10 + uint64_t(digits[leadingCount] - '0');
    }

    // Estimate: at most five roundings of relative size 2^-53 each, far
    // below the float spacing; the double never leaves the normal range.
    double estimate = static_cast<double>(leading);
    int64_t scale = exp10 + (count - leadingCount);  // within [-64, 38]
    for (; scale > kMaxExactPow10; scale -= kMaxExactPow10) estimate *= kExactPow10[kMaxExactPow10];
    for (; scale < -kMaxExactPow10; scale += kMaxExactPow10) estimate /= kExactPow10[kMaxExactPow10];
    estimate = scale >= 0 ? estimate * kExactPow10[scale] : estimate / kExactPow10[-scale];
    const float guess = static_cast<float>(estimate);
    uint32_t bits;
    std::memcpy(&bits, &guess, sizeof bits);
    if (bits > 0x7F7FFFFFu) bits = 0x7F7FFFFFu;  // the estimate overflowed: start at FLT_MAX

    // Up while the value is above the midpoint to the next float (or on it
    // with an odd current float); 0x7F800000 is +infinity.
    while (bits < 0x7F800000u) {
        const int side = CompareWithMidpointAbove(exact, exp10, bits);
        if (side < 0 || (side == 0 && (bits & 1) == 0)) break;
        ++bits;
    }
    // Down while the value is below the midpoint to the float underneath (or
    // on it with an odd current float).
    while (bits != 0 && bits < 0x7F800000u) {
        const int side = CompareWithMidpointAbove(exact, exp10, bits - 1);
        if (side > 0 || (side == 0 && (bits & 1) == 0)) break;
        --bits;
    }
    float result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

// Length of `word` (lower case) at [p, end) in any case, or 0 when absent.
std::size_t MatchWord(const char* p, const char* end, const char* word) {
    const std::size_t length = std::strlen(word);
    if (static_cast<std::size_t>(end - p) < length) return 0;
    for (std::size_t i = 0; i < length; ++i) {
        if ((p[i] | 0x20) != word[i]) return 0;
    }
    return length;
}

// "nan", "inf" or "infinity" at p: the value with its sign, next behind it.
bool ScanNonFiniteWord(const char* p, const char* end, bool negative, FloatScan& result) {
    float value = NAN;
    std::size_t length = MatchWord(p, end, "nan");
    if (length == 0) {
        length = MatchWord(p, end, "infinity");
        if (length == 0) length = MatchWord(p, end, "inf");
        value = HUGE_VALF;
    }
    if (length == 0) return false;
    result = {p + length, true, negative ? -value : value};
    return true;
}

FloatScan ScanFloatWith(const char* p, const char* end, bool nonFinite) {
    while (p < end && IsGridSpace(*p)) ++p;

    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }

    // Leading zeros of the integer part count as a mantissa digit but carry
    // no value.
    const char* q = p;
    while (q < end && *q == '0') ++q;
    bool haveMantissa = q != p;

    // The digits are gathered into `mantissa` on the way; it is exact while
    // there are at most 19 of them and is rebuilt otherwise.
    uint64_t mantissa = 0;
    const char* const intBegin = q;
    for (; q < end && IsDigit(*q); ++q) mantissa = mantissa * 10 + uint64_t(*q - '0');
    const char* const intEnd = q;

    const char* fracBegin = q;
    const char* fracEnd = q;
    if (q < end && *q == '.') {
        fracBegin = ++q;
        for (; q < end && IsDigit(*q); ++q) mantissa = mantissa * 10 + uint64_t(*q - '0');
        fracEnd = q;
    }
    haveMantissa = haveMantissa || intEnd != intBegin || fracEnd != fracBegin;
    if (!haveMantissa) {
        FloatScan word;
        if (nonFinite && ScanNonFiniteWord(p, end, negative, word)) return word;
        return {q, false, 0.0f};  // "", "-", ".", "+."
    }

    // The exponent letter is taken only behind a mantissa digit; once taken
    // it needs at least one digit, after an optional sign.
    int64_t exp10 = 0;
    if (q < end && (*q == 'e' || *q == 'E')) {
        ++q;
        bool expNegative = false;
        if (q < end && (*q == '+' || *q == '-')) {
            expNegative = *q == '-';
            ++q;
        }
        const char* const expDigits = q;
        int64_t e = 0;
        for (; q < end && IsDigit(*q); ++q) {
            if (e < kExponentCap) e = e * 10 + (*q - '0');
        }
        if (q == expDigits) return {q, false, 0.0f};  // "1e", "1e+"
        exp10 = expNegative ? -e : e;
    }
    exp10 -= fracEnd - fracBegin;  // the value is all digits * 10^exp10

    float f;
    if ((intEnd - intBegin) + (fracEnd - fracBegin) <= kMaxFastDigits) {
        if (mantissa == 0) return {q, true, negative ? -0.0f : 0.0f};
        if (ConvertExact(mantissa, exp10, f)) return {q, true, negative ? -f : f};
    }

    // Reduce the digits to the significant ones: trailing zeros of the
    // fraction and, without an integer part, its leading zeros are dropped.
    while (fracEnd != fracBegin && fracEnd[-1] == '0') {
        --fracEnd;
        ++exp10;
    }
    const char* fracSignificant = fracBegin;
    if (intBegin == intEnd) {
        while (fracSignificant != fracEnd && *fracSignificant == '0') ++fracSignificant;
    }
    const int64_t digitCount = (intEnd - intBegin) + (fracEnd - fracSignificant);
    if (digitCount == 0) return {q, true, negative ? -0.0f : 0.0f};
    if (digitCount <= kMaxFastDigits) {
        mantissa = 0;
        for (const char* c = intBegin; c != intEnd; ++c) mantissa = mantissa * 10 + uint64_t(*c - '0');
        for (const char* c = fracSignificant; c != fracEnd; ++c) mantissa = mantissa * 10 + uint64_t(*c - '0');
        if (ConvertExact(mantissa, exp10, f)) return {q, true, negative ? -f : f};
    }

    // Rounding to nearest is symmetric, so the magnitude is converted alone.
    f = ConvertSlow(intBegin, intEnd, fracSignificant, fracEnd, exp10);
    if (f > FLT_MAX && !nonFinite) return {q, false, 0.0f};  // rounds beyond the float range
    return {q, true, negative ? -f : f};
}

}  // namespace

FloatScan ScanFloat(const char* p, const char* end) { return ScanFloatWith(p, end, false); }

FloatScan ScanFloatOrNonFinite(const char* p, const char* end) { return ScanFloatWith(p, end, true); }
