// FormatFixed2 against an exact decimal expansion of the float, and the
// integer formatters against std::to_string.
#include "format/number_texts.h"
#include "job/number_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace dunmoor_test {

// The exact decimal text of m * 2^e2 in positional notation ("0.0625",
// "16777216"), computed in base-10^9 limbs. Shared with the float scan test.
std::string ExactDecimal(uint64_t m, int e2) {
    constexpr uint64_t kBase = 1000000000;
    std::vector<uint64_t> limbs;  // least significant first
    for (; m != 0; m /= kBase) limbs.push_back(m % kBase);
    if (limbs.empty()) return "0";
    auto multiply = [&limbs](uint64_t factor) {  // factor <= 5^13 < 2^31
        uint64_t carry = 0;
        for (uint64_t& limb : limbs) {
            const uint64_t t = limb * factor + carry;
            limb = t % kBase;
            carry = t / kBase;
        }
        for (; carry != 0; carry /= kBase) limbs.push_back(carry % kBase);
    };
    for (int k = e2; k > 0; k -= 30) multiply(uint64_t(1) << (k < 30 ? k : 30));
    // m * 2^-k = m * 5^k / 10^k
    for (int k = -e2; k > 0; k -= 13) {
        uint64_t power = 1;
        for (int i = 0; i < (k < 13 ? k : 13); ++i) power *= 5;
        multiply(power);
    }
    std::string digits = std::to_string(limbs.back());
    for (std::size_t i = limbs.size() - 1; i-- > 0;) {
        const std::string limb = std::to_string(limbs[i]);
        digits += std::string(9 - limb.size(), '0') + limb;
    }
    if (e2 >= 0) return digits;
    const std::size_t point = static_cast<std::size_t>(-e2);
    if (digits.size() <= point) digits.insert(0, point + 1 - digits.size(), '0');
    digits.insert(digits.size() - point, ".");
    return digits;
}

std::string HexFloat(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}

}  // namespace dunmoor_test

namespace {

using dunmoor_test::ExactDecimal;
using dunmoor_test::HexFloat;

// "%.2f" with ties away from zero, from the exact decimal expansion: the
// magnitude rounds up exactly when its third decimal is 5 or more.
std::string ReferenceFixed2(float value) {
    if (std::isnan(value)) return "nan";
    const std::string sign = std::signbit(value) ? "-" : "";
    if (std::isinf(value)) return sign + "inf";
    int e2 = 0;
    const float significand = std::frexp(std::fabs(value), &e2);  // [0.5, 1)
    const uint64_t m = static_cast<uint64_t>(std::ldexp(significand, 24));
    std::string exact = ExactDecimal(m, e2 - 24);
    if (exact.find('.') == std::string::npos) exact += '.';
    exact += "000";
    const std::size_t point = exact.find('.');
    std::string kept = exact.substr(0, point) + exact.substr(point + 1, 2);
    if (exact[point + 3] >= '5') {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
        if (i == 0) kept.insert(0, "1"); else ++kept[i - 1];
    }
    return sign + kept.substr(0, kept.size() - 2) + "." + kept.substr(kept.size() - 2);
}

std::string Fixed2(float value) {
    char text[kMaxFixed2Chars];
    return std::string(text, FormatFixed2(text, value));
}

// Compares one value; returns false (after reporting) on a mismatch.
bool CheckFixed2(float value) {
    const std::string want = ReferenceFixed2(value);
    const std::string got = Fixed2(value);
    if (got == want) return true;
    ADD_FAILURE() << HexFloat(value) << ": got " << got << ", want " << want;
    return false;
}

float FromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST(FormatFixed2, NamedCases) {
    const struct { float value; const char* text; } cases[] = {
        {0.125f, "0.13"}, {-0.125f, "-0.13"}, {100.375f, "100.38"}, {100.125f, "100.13"},
        {2.675f, "2.67"}, {-0.0f, "-0.00"}, {-0.001f, "-0.00"}, {1e-30f, "0.00"},
        {0.0f, "0.00"}, {0.005f, "0.00"}, {-9999.0f, "-9999.00"}, {147.22f, "147.22"},
        {8388607.5f, "8388607.50"}, {8388608.0f, "8388608.00"}, {16777217.0f, "16777216.00"},
        {FLT_MAX, "340282346638528859811704183484516925440.00"},
        {-FLT_MAX, "-340282346638528859811704183484516925440.00"},
        {FLT_TRUE_MIN, "0.00"}, {-FLT_TRUE_MIN, "-0.00"},
        {std::numeric_limits<float>::infinity(), "inf"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
        {std::numeric_limits<float>::quiet_NaN(), "nan"},
        {-std::numeric_limits<float>::quiet_NaN(), "nan"},
        {FromBits(0xFFC00001u), "nan"},
    };
    for (const auto& c : cases) EXPECT_EQ(Fixed2(c.value), c.text) << HexFloat(c.value);
    for (const auto& c : cases) CheckFixed2(c.value);  // the reference agrees
}

TEST(FormatFixed2, TiesAndNeighbours) {
    // Odd multiples of 1/8 are the only floats ending exactly in a half
    // hundredth; take them with their float neighbours, around 0, around
    // 2^21 (where 1/8 is the float spacing) and some at random.
    std::mt19937_64 random(0x5eed0001);
    std::vector<uint32_t> eighths;
    for (uint32_t k = 1; k < (1u << 16); k += 2) eighths.push_back(k);
    for (uint32_t k = (1u << 24) - (1u << 16) + 1; k < (1u << 24); k += 2) eighths.push_back(k);
    for (int i = 0; i < 100000; ++i) eighths.push_back(uint32_t(random() % (1u << 24)) | 1u);
    int failures = 0;
    for (uint32_t k : eighths) {
        const float tie = static_cast<float>(k) / 8.0f;
        for (float v : {tie, -tie, std::nextafter(tie, 0.0f), std::nextafter(tie, 1e30f),
                        static_cast<float>(k) / 64.0f}) {
            if (!CheckFixed2(v) && ++failures > 20) return;
        }
    }
    // Nearest floats to decimal half hundredths across all magnitudes.
    for (int i = 0; i < 300000; ++i) {
        const double tie = (static_cast<double>(random() % 2000000000) + 0.5) / 100.0;
        const float v = static_cast<float>(tie * std::ldexp(1.0, -int(random() % 20)));
        if (!CheckFixed2(v) && ++failures > 20) return;
        if (!CheckFixed2(std::nextafter(v, 0.0f)) && ++failures > 20) return;
    }
}

TEST(FormatFixed2, PowerOfTwoBoundaries) {
    int failures = 0;
    for (int e = -149; e <= 127; ++e) {
        const float p = std::ldexp(1.0f, e);
        for (float v : {p, std::nextafter(p, 0.0f), std::nextafter(p, FLT_MAX), -p}) {
            if (!CheckFixed2(v) && ++failures > 20) return;
        }
    }
}

TEST(FormatFixed2, RandomBitPatternsAndTerrainValues) {
    std::mt19937_64 random(0x5eed0002);
    std::uniform_real_distribution<float> terrain(-12000.0f, 12000.0f);
    int failures = 0;
    for (int i = 0; i < 1000000; ++i) {
        const float bits = FromBits(static_cast<uint32_t>(random()));
        if (std::isfinite(bits) && !CheckFixed2(bits) && ++failures > 20) return;
        if (!CheckFixed2(terrain(random)) && ++failures > 20) return;
    }
}

std::string Int(int64_t value) {
    char text[20];
    return std::string(text, FormatInt(text, value));
}

std::string UInt(uint64_t value) {
    char text[20];
    return std::string(text, FormatUInt(text, value));
}

TEST(FormatInt, VertexNumbersCountedUpAsTextMatch) {
    for (int step : {1, 4}) {
        for (int64_t start : {int64_t{0}, int64_t{8}, int64_t{98}, int64_t{995}, int64_t{99999990},
                              int64_t{4294967290}, int64_t{999999999999}}) {
            VertexCounter counter;
            StartVertexCounter(counter, start);
            for (int64_t v = start + step; v <= start + 12 * step; v += step) {
                AdvanceCounter(counter, step);
                char text[kCounterTextBytes];
                ASSERT_EQ(std::string(text, PutCounter(text, counter)), Int(v) + " ");
            }
        }
    }
}

TEST(FormatInt, MatchesToString) {
    std::vector<uint64_t> values = {0, std::numeric_limits<uint64_t>::max(),
                                    uint64_t(std::numeric_limits<int64_t>::max()),
                                    uint64_t(std::numeric_limits<int64_t>::min())};
    for (uint64_t p = 1; p <= std::numeric_limits<uint64_t>::max() / 10; p *= 10) {
        for (uint64_t v : {p - 1, p, p + 1, 10 * p - 1}) values.push_back(v);
    }
    std::mt19937_64 random(0x5eed0003);
    for (int i = 0; i < 200000; ++i) values.push_back(random() >> (random() % 64));
    for (uint64_t v : values) {
        ASSERT_EQ(UInt(v), std::to_string(v));
        const int64_t s = static_cast<int64_t>(v);
        ASSERT_EQ(Int(s), std::to_string(s));
    }
}

}  // namespace
