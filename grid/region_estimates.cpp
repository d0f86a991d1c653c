#include "grid/region_estimates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <limits>

#include "grid/float_scan.h"
#include "job/number_format.h"

std::wstring FormatGrouped(int64_t value) {
    char digits[24];
    char* end = FormatInt(digits, value);
    const std::size_t count = static_cast<std::size_t>(end - digits);

    std::wstring text;
    text.reserve(count + count / 3);
    if (value < 1000) {
        text.assign(digits, end);
        return text;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && (count - i) % 3 == 0) text.push_back(L' ');
        text.push_back(static_cast<wchar_t>(digits[i]));
    }
    return text;
}

static std::wstring FieldText(const std::wstring& text) {
    return text.substr(0, kFieldChars);
}

static bool IsFieldSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

int32_t LeadingInteger(const std::wstring& fullText) {
    const std::wstring text = FieldText(fullText);
    std::size_t i = 0;
    while (i < text.size() && IsFieldSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    int64_t magnitude = 0;
    const int64_t cap = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - L'0');
        if (magnitude > cap) magnitude = cap;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

std::optional<std::wstring> ClampedRegionText(const std::wstring& text, int32_t upperLimit) {
    const int32_t value = LeadingInteger(text);
    if (value < 1) return std::wstring(L"1");
    if (upperLimit >= 1 && value > upperLimit) return std::to_wstring(upperLimit);
    return std::nullopt;
}

int32_t ClampedRegionValue(const std::wstring& text, int32_t upperLimit) {
    const std::optional<std::wstring> rewrite = ClampedRegionText(text, upperLimit);
    return LeadingInteger(rewrite ? *rewrite : text);
}

FieldNumber ReadFieldNumber(const std::wstring& text) {
    std::wstring field = FieldText(text);
    for (wchar_t& c : field) {
        if (c == L',') c = L'.';
    }
    const wchar_t* start = field.c_str();
    wchar_t* end = nullptr;
    FieldNumber number;
    number.value = std::wcstod(start, &end);
    number.alone = end != start;
    for (; *end != L'\0'; ++end) {
        if (!IsFieldSpace(*end)) number.alone = false;
    }
    return number;
}

float UnitsValue(const std::wstring& text) {
    return static_cast<float>(ReadFieldNumber(text).value);
}

std::optional<float> UnitsFromText(const std::wstring& text) {
    const FieldNumber number = ReadFieldNumber(text);
    if (!number.alone) return std::nullopt;
    return static_cast<float>(number.value);
}

bool UnitsTextIsNegative(const std::wstring& text) {
    return UnitsValue(text) < 0.0f;
}

bool UnitsAreUsable(float unitMeters) {
    return std::isfinite(unitMeters) && unitMeters > 0.0f;
}

// Products of counts saturate at the 64-bit limits instead of wrapping: only
// a region of 2^31 x 2^31 cells comes near them.
static int64_t SaturatingProduct(int64_t a, int64_t b) {
    int64_t product;
    if (!__builtin_mul_overflow(a, b, &product)) return product;
    return ((a < 0) != (b < 0)) ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

RegionEstimates EstimateRegion(const RegionWindow& region) {
    const int64_t cols = int64_t{region.xMax} - region.xMin + 1;
    const int64_t rows = int64_t{region.yMax} - region.yMin + 1;
    RegionEstimates e;
    if (RegionIsEmpty(region)) return e;  // nothing to convert: every count 0
    e.cells = SaturatingProduct(rows, cols);
    e.corners = SaturatingProduct(rows + 1, cols + 1);
    e.interpolatedVertices = e.corners;
    e.floatingVertices = SaturatingProduct(4, e.cells);
    e.triangles = SaturatingProduct(2, e.cells);
    e.quads = e.cells;
    return e;
}

static std::wstring ThreeLines(int64_t first, int64_t second, int64_t third) {
    return FormatGrouped(first) + L"\n" + FormatGrouped(second) + L"\n" + FormatGrouped(third);
}

std::wstring InterpolatedEstimateText(const RegionEstimates& e) {
    return ThreeLines(e.interpolatedVertices, e.triangles, e.quads);
}

std::wstring FloatingEstimateText(const RegionEstimates& e) {
    return ThreeLines(e.floatingVertices, e.triangles, e.quads);
}

std::wstring Fixed2Text(float value) {
    char buffer[kMaxFixed2Chars];
    char* end = FormatFixed2(buffer, value);
    return std::wstring(buffer, end);
}

// A whole no-data value as "%d"; any other in the fewest significant digits
// that read back as the same float (-3.4028235e+38, -1e+30, -9999.75), or
// nan, inf, -inf.
static std::wstring NodataText(const GridHeader& header) {
    if (header.nodataWhole) return std::to_wstring(header.nodata);
    const std::string text = ShortestText(header.nodataValue);
    return std::wstring(text.begin(), text.end());
}

// A cell size as the file info shows it: two decimals from 0.01 on (as every
// other value), and below that, where two decimals would read "0.00" or "0.01", three
// significant digits (a degree grid's 0.000833).
static std::wstring CellSizeText(float value) {
    const double size = std::fabs(static_cast<double>(value));
    if (!(size < 0.01) || size == 0.0) return Fixed2Text(value);
    const int decimals = std::min(kMaxFixedDecimals, static_cast<int>(std::ceil(-std::log10(size))) + 2);
    char buffer[kMaxFixedChars];
    return std::wstring(buffer, FormatFixed(buffer, value, decimals));
}

FileInfoTexts MakeFileInfoTexts(const std::wstring& stem, const std::wstring& ext,
                                const GridHeader& header) {
    constexpr std::size_t kMaxShownNameChars = 63;
    FileInfoTexts texts;
    texts.records = int64_t{header.ncols} * header.nrows;
    const std::wstring name = (stem + ext).substr(0, kMaxShownNameChars);
    texts.column1 = name + L"\n" + FormatGrouped(header.ncols) + L"\n" +
                    FormatGrouped(header.nrows) + L"\n" + FormatGrouped(texts.records);
    texts.column2 = Fixed2Text(header.xllcorner) + L"\n" + Fixed2Text(header.yllcorner) + L"\n" +
                    CellSizeText(header.cellsize) + L"\n" + NodataText(header);
    return texts;
}
