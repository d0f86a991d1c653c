// ScanFloat against formatted float extraction from a classic-locale string
// stream: same success, same bits, same stopping point.
#include "grid/float_scan.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace dunmoor_test {
std::string ExactDecimal(uint64_t m, int e2);  // number_format_test.cpp
std::string HexFloat(double value);
}  // namespace dunmoor_test

namespace {

using dunmoor_test::ExactDecimal;
using dunmoor_test::HexFloat;

#ifdef _WIN32
// The Windows runtime switches the C locale twice for every reference
// extraction; fewer tokens keep the run short under Wine.
constexpr int kRandomTokens = 1000000;
#else
constexpr int kRandomTokens = 3000000;
#endif

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string Shown(const std::string& token) {
    return token.size() <= 80 ? '"' + token + '"'
                              : '"' + token.substr(0, 60) + "...\" (" + std::to_string(token.size()) + " chars)";
}

class FloatScanTest : public ::testing::Test {
protected:
    // Compares ScanFloat with the stream on `token`; false after reporting.
    bool Check(const std::string& token) {
        stream_.clear();
        stream_.str(token);
        float want = 0.0f;
        stream_ >> want;
        const bool wantOk = !stream_.fail();
        const auto wantNext = static_cast<std::size_t>(
            stream_.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in));
        // An exactly sized copy, so that a memory checker sees any read past the end.
        const std::unique_ptr<char[]> text(new char[token.size()]);
        std::memcpy(text.get(), token.data(), token.size());
        const FloatScan got = ScanFloat(text.get(), text.get() + token.size());
        const auto gotNext = static_cast<std::size_t>(got.next - text.get());
        if (got.ok == wantOk && gotNext == wantNext && (!wantOk || Bits(got.value) == Bits(want))) {
            return true;
        }
        ADD_FAILURE() << Shown(token) << ": ScanFloat ok=" << got.ok << " " << HexFloat(got.value)
                      << " next=" << gotNext << "; stream ok=" << wantOk << " " << HexFloat(want)
                      << " next=" << wantNext;
        return ++failures_ <= 20;
    }

    // Checks ScanFloat against a value known by construction.
    bool Expect(const std::string& token, bool ok, float value) {
        const FloatScan got = ScanFloat(token.data(), token.data() + token.size());
        if (got.ok == ok && (!ok || Bits(got.value) == Bits(value))) return true;
        ADD_FAILURE() << Shown(token) << ": got ok=" << got.ok << " " << HexFloat(got.value)
                      << ", want ok=" << ok << " " << HexFloat(value);
        return ++failures_ <= 20;
    }

    std::istringstream stream_;
    int failures_ = 0;
};

TEST_F(FloatScanTest, AdversarialTokens) {
    const char* tokens[] = {
        "", " ", "-", "+", ".", "+.", "-.", "-.e5", "1e", "1e+", "1E-", "e5", ".e1", "1.5.3",
        "147.21840000000000259", "3.4028235e38", "3.4028236e38", "340282356779733661637539395458142568448",
        "340282356779733661637539395458142568447.999", "1e-46", "1e-45", "7.006e-46", "0x1p3", "0x10",
        "12abc", "nan", "inf", "-inf", "-0", "+0", "-0.0e-7", "00000.000001e6", "1.e5", ".5", "+.5",
        "1e5e3", "1e+-3", "1e5.5", "  \t\n\v\f\r-12.5 ", "12\r\n", "-9999", "1e99999999999999999999",
        "1e-99999999999999999999", "0e99999999999999999999", "9999999999999999999.5", "1.17549435e-38",
        "1.1754942e-38", "1.401298464e-45", "16777217", "16777216.5000000000000001", "0.0000000596046447753906250",
    };
    for (const char* token : tokens) Check(token);
    const std::string zeros(100000, '0');
    Check("0." + zeros + "1");
    Check("1" + zeros);
    Check("1." + zeros + "1e5");
    Check("0.5" + zeros + "1");
    Check("-0." + zeros + "e99999999999");
}

// Texts on which the C libraries' own conversions (and so their streams) are
// off; ScanFloat rounds them correctly on both systems.
TEST_F(FloatScanTest, TextsTheLibrariesMisround) {
    const std::string zeros(20000, '0');
    // Windows: an exponent beyond 19999 is taken as 19999 before the digits
    // are counted in.
    Expect("0." + zeros + "1e20005", true, 1e4f);
    Expect("1" + zeros + "e-20000", true, 1.0f);
    // Windows: a tie between subnormals that rounds up to a power of two
    // comes out as 2^-126 (here 3 * 2^-150, which ties to 2^-148).
    Expect(ExactDecimal(3, -150), true, std::ldexp(1.0f, -148));
    // Linux: (m + 3/4) * 2^-149 with an even m in [2^22, 2^23) rounds down.
    Expect(ExactDecimal(4 * 0x7FFFFE + 3, -151), true, std::ldexp(float(0x7FFFFF), -149));
}

// Midpoints of neighbouring floats and texts just beside them, printed
// exactly, checked against the float known by construction (round half to
// even). The stream must agree where the result is a normal float; for
// subnormals both C libraries misround some of these texts (see above).
TEST_F(FloatScanTest, HalfwayCases) {
    std::mt19937_64 random(0x5eed0101);
    for (int i = 0; i < kRandomTokens / 30; ++i) {
        uint32_t bits = static_cast<uint32_t>(random()) & 0x7FFFFFFFu;
        if (bits >= 0x7F7FFFFFu) bits = 0x7F7FFFFFu - (bits & 0xFFFFu);
        if (i % 4 == 1) bits &= 0x00FFFFFFu;  // subnormals and the lowest normals
        if (i < 64) bits = 0x7F7FFFFFu - uint32_t(i);  // the top of the range, FLT_MAX included
        if (i >= 64 && i < 128) bits = uint32_t(i - 64);  // the smallest subnormals
        const uint32_t exponent = bits >> 23;
        const uint64_t m = exponent == 0 ? (bits & 0x7FFFFF) : (bits & 0x7FFFFF) | 0x800000;
        const int e2 = exponent == 0 ? -149 : int(exponent) - 150;
        auto value = [&](uint64_t significand) {  // +-significand * 2^e2, infinite past FLT_MAX
            const float v = static_cast<float>(std::ldexp(static_cast<double>(significand), e2));
            return (i & 1) ? -v : v;
        };
        const std::string sign = (i & 1) ? "-" : "";
        const int k = 1 + int(random() % 38);  // bits below the midpoint's last one
        const std::string tie = sign + ExactDecimal(2 * m + 1, e2 - 1);
        const std::string below = sign + ExactDecimal(((2 * m + 1) << k) - 1, e2 - 1 - k);
        const std::string above = sign + ExactDecimal(((2 * m + 1) << k) + 1, e2 - 1 - k);
        // Over 128 significant digits: only the last one lifts it off the tie.
        const std::string longAbove =
            tie + (tie.find('.') == std::string::npos ? "." : "") + std::string(130, '0') + "1";
        const float even = value((m & 1) ? m + 1 : m);
        Expect(tie, std::isfinite(even), even);
        Expect(longAbove, std::isfinite(value(m + 1)), value(m + 1));
        Expect(below, true, value(m));
        Expect(above, std::isfinite(value(m + 1)), value(m + 1));
        if (exponent != 0) {
            Check(tie);
            Check(longAbove);
            Check(below);
            Check(above);
        }
        if (failures_ > 20) return;
    }
}

// Short texts (15 to 17 digits) next to float midpoints: their double is
// often the midpoint itself, which the fast path must not round on.
TEST_F(FloatScanTest, ShortTextsBesideMidpoints) {
    std::mt19937_64 random(0x5eed0103);
    for (int i = 0; i < kRandomTokens / 30; ++i) {
        const uint32_t bits = 0x00800000u + static_cast<uint32_t>(random() % 0x7EFFFFFFu);  // normal
        const uint64_t m = (bits & 0x7FFFFF) | 0x800000;
        const int e2 = int(bits >> 23) - 150;
        // The midpoint as 0.DIGITS * 10^exponent, cut to 15..17 digits.
        std::string digits = ExactDecimal(2 * m + 1, e2 - 1);
        std::size_t point = digits.find('.');
        if (point == std::string::npos) point = digits.size(); else digits.erase(point, 1);
        const std::size_t lead = digits.find_first_not_of('0');
        const std::string exponent = "e" + std::to_string(int(point) - int(lead));
        digits.erase(0, lead);
        const std::size_t n = 15 + random() % 3;
        const bool cut = digits.find_first_not_of('0', n) != std::string::npos;
        std::string up = digits.substr(0, n);
        std::size_t j = up.size();
        while (j > 0 && up[j - 1] == '9') up[--j] = '0';
        if (j == 0) continue;  // all nines: skip rather than renormalise
        ++up[j - 1];
        const auto value = [e2](uint64_t s) { return static_cast<float>(std::ldexp(double(s), e2)); };
        const std::string down = "0." + digits.substr(0, n) + exponent;
        Expect(down, true, cut ? value(m) : value((m & 1) ? m + 1 : m));
        Expect("0." + up + exponent, std::isfinite(value(m + 1)), value(m + 1));
        if (!Check(down) || !Check("0." + up + exponent)) return;
    }
}

// A random token: mostly terrain-like decimals, then long mantissas, leading
// zeros, exponents near the ends of the float range, and stray characters.
std::string RandomToken(std::mt19937_64& random) {
    auto digits = [&random](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += char('0' + random() % 10);
        return text;
    };
    std::string token;
    const unsigned shape = random() % 16;
    const unsigned sign = random() % 8;
    if (sign == 0) token += '-';
    if (sign == 1) token += '+';
    if (random() % 16 == 0) token = std::string(random() % 3, ' ') + token;
    if (shape < 8) {  // terrain heights such as 147.22, -9999, 1234.567
        token += std::to_string(random() % (shape < 4 ? 10000 : 1000000));
        const int decimals = int(random() % 8);
        if (decimals > 0) token += '.' + digits(decimals);
    } else if (shape < 11) {  // long mantissas with leading zeros
        token += std::string(random() % 4 == 0 ? random() % 6 : 0, '0');
        const int length = 1 + int(random() % 40);
        const int point = int(random() % (length + 1));
        token += digits(length);
        if (random() % 4 != 0) token.insert(token.size() - length + point, ".");
    } else if (shape < 15) {  // exponents, weighted towards the float limits
        static const int nearLimits[] = {38, 39, 37, -38, -39, -45, -46, -44, -40, -37};
        std::string mantissa = digits(1 + random() % 12);
        if (random() % 2) mantissa.insert(random() % (mantissa.size() + 1), ".");
        token += mantissa;
        const int e = random() % 2 ? nearLimits[random() % 10] - int(token.size() % 10)
                                   : int(random() % 100) - 50;
        token += (random() % 2 ? "e" : "E") + std::string(e >= 0 && random() % 2 ? "+" : "") + std::to_string(e);
    } else {  // any finite float printed with a random number of digits
        uint32_t bits = static_cast<uint32_t>(random()) & 0x7F7FFFFFu;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        char text[64];
        std::snprintf(text, sizeof text, "%.*g", int(random() % 12), double(value));
        token += text;
    }
    if (random() % 8 == 0) {
        static const char trailing[] = " \t\n.eE+-x05";
        token += trailing[random() % (sizeof trailing - 1)];
        if (random() % 2) token += char('0' + random() % 10);
    }
    return token;
}

TEST_F(FloatScanTest, RandomTokensMatchStream) {
    std::mt19937_64 random(0x5eed0102);
    for (int i = 0; i < kRandomTokens; ++i) {
        if (!Check(RandomToken(random))) return;
    }
}

// The grid cells' fast path: what it takes it reads exactly as the full scan
// does, and it takes the terrain-like tokens.
TEST_F(FloatScanTest, PlainDecimalsMatchFullScan) {
    std::mt19937_64 random(0x5eed0103);
    int taken = 0;
    for (int i = 0; i < kRandomTokens; ++i) {
        const std::string token = RandomToken(random);
        const char* end = token.data() + token.size();
        FloatScan fast;
        if (!ScanPlainDecimal(token.data(), end, fast)) continue;
        ++taken;
        const FloatScan full = ScanFloatOrNonFinite(token.data(), end);
        ASSERT_TRUE(full.ok) << Shown(token);
        ASSERT_EQ(Bits(fast.value), Bits(full.value)) << Shown(token);
        ASSERT_EQ(fast.next, full.next) << Shown(token);
    }
    EXPECT_GT(taken, kRandomTokens / 3);
}

TEST_F(FloatScanTest, StopsAtEndOfRange) {
    const std::string text = "12.5e3 7";
    const FloatScan cut = ScanFloat(text.data(), text.data() + 4);  // sees only "12.5"
    EXPECT_TRUE(cut.ok);
    EXPECT_EQ(cut.value, 12.5f);
    EXPECT_EQ(cut.next, text.data() + 4);
    const FloatScan second = ScanFloat(text.data() + 6, text.data() + text.size());
    EXPECT_TRUE(second.ok);
    EXPECT_EQ(second.value, 7.0f);
    EXPECT_EQ(second.next, text.data() + text.size());
    const FloatScan none = ScanFloat(text.data() + 6, text.data() + 7);  // whitespace only
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.next, text.data() + 7);
}

}  // namespace
