// The computations behind the file-info panel, the region and units fields,
// the size estimates and the name parts of the selected file.
#include "grid/path_parts.h"
#include "grid/region_estimates.h"
#include "mesh/conversion_job.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

TEST(FormatGroupedTest, GroupsOfThreeFromTheRightFromOneThousandUp) {
    const struct {
        int64_t value;
        const wchar_t* text;
    } cases[] = {
        {0, L"0"},
        {7, L"7"},
        {999, L"999"},
        {-1, L"-1"},
        {-1000, L"-1000"},
        {-1234567, L"-1234567"},
        {1000, L"1 000"},
        {9999, L"9 999"},
        {100000, L"100 000"},
        {999999, L"999 999"},
        {1000000, L"1 000 000"},
        {1234567, L"1 234 567"},
        {123456789, L"123 456 789"},
        {2147483647, L"2 147 483 647"},
        {2147483648, L"2 147 483 648"},
        {4294967296, L"4 294 967 296"},
        {-4294967296, L"-4294967296"},
        {std::numeric_limits<int64_t>::max(), L"9 223 372 036 854 775 807"},
        {std::numeric_limits<int64_t>::min(), L"-9223372036854775808"},
    };
    for (const auto& c : cases) EXPECT_EQ(Narrow(FormatGrouped(c.value)), Narrow(c.text)) << c.value;
}

TEST(RegionFieldTest, LeadingInteger) {
    const struct {
        const wchar_t* text;
        int32_t value;
    } cases[] = {
        {L"", 0},
        {L"abc", 0},
        {L"-", 0},
        {L"+", 0},
        {L"- 5", 0},
        {L"42", 42},
        {L"  42", 42},
        {L"\t\r\n\v\f42", 42},
        {L"+7", 7},
        {L"-3", -3},
        {L"12abc", 12},
        {L"1 2", 1},
        {L"3.9", 3},
        {L"0x10", 0},
        {L"2147483647", INT32_MAX},
        {L"2147483648", INT32_MAX},
        {L"99999999999999", INT32_MAX},
        {L"-2147483648", INT32_MIN},
        {L"-2147483649", INT32_MIN},
        {L"-99999999999999", INT32_MIN},
        // Only the first 15 characters are read.
        {L"              7", 7},     // 14 spaces
        {L"               7", 0},    // 15 spaces
        {L"0000000000000128", 12},   // 16 digits
        {L"00000000000001", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(LeadingInteger(c.text), c.value) << '"' << Narrow(c.text) << '"';
}

TEST(RegionFieldTest, ClampedText) {
    const struct {
        const wchar_t* text;
        int32_t limit;
        const wchar_t* rewrite;  // nullptr: the text stands
    } cases[] = {
        {L"0", 500, L"1"},
        {L"", 500, L"1"},
        {L"abc", 500, L"1"},
        {L"-5", 500, L"1"},
        {L"-99999999999", 500, L"1"},
        {L"1", 500, nullptr},
        {L"250", 500, nullptr},
        {L"250abc", 500, nullptr},
        {L" 250 ", 500, nullptr},
        {L"500", 500, nullptr},
        {L"501", 500, L"500"},
        {L"99999", 500, L"500"},
        {L"500", 499, L"499"},  // X min of a 500-column grid
        {L"99999999999999", 500, L"500"},
        {L"2147483647", INT32_MAX, nullptr},
        {L"3000000000", INT32_MAX, nullptr},  // reads as the limit itself
        // A grid of one column or row: the upper limit is 0 and not applied.
        {L"1", 0, nullptr},
        {L"7", 0, nullptr},
        {L"0", 0, L"1"},
        {L"7", -5, nullptr},
        {L"-7", INT32_MIN, L"1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << Narrow(c.text) << "\" limit " << c.limit);
        const std::optional<std::wstring> got = ClampedRegionText(c.text, c.limit);
        if (c.rewrite == nullptr) {
            EXPECT_FALSE(got.has_value()) << "rewritten to \"" << Narrow(*got) << '"';
            EXPECT_EQ(ClampedRegionValue(c.text, c.limit), LeadingInteger(c.text));
        } else {
            ASSERT_TRUE(got.has_value());
            EXPECT_EQ(Narrow(*got), Narrow(c.rewrite));
            EXPECT_EQ(ClampedRegionValue(c.text, c.limit), LeadingInteger(c.rewrite));
        }
    }
}

// Every rewrite makes the field report a change again, which clamps again:
// the rewriting must come to rest, and within [1, limit] when limit >= 1.
TEST(RegionFieldTest, ClampAlwaysSettles) {
    const wchar_t* texts[] = {L"", L"x", L"-1", L"0", L"1", L"2", L"499", L"500", L"501",
                              L"99999", L"2147483647", L"-2147483648", L"123456789012345678"};
    const int32_t limits[] = {INT32_MIN, -5, -1, 0, 1, 2, 499, 500, INT32_MAX};
    for (const wchar_t* start : texts) {
        for (int32_t limit : limits) {
            SCOPED_TRACE(testing::Message() << '"' << Narrow(start) << "\" limit " << limit);
            std::wstring text = start;
            int rewrites = 0;
            while (std::optional<std::wstring> next = ClampedRegionText(text, limit)) {
                text = *next;
                ASSERT_LE(++rewrites, 2) << "still rewriting, now \"" << Narrow(text) << '"';
            }
            const int32_t value = LeadingInteger(text);
            EXPECT_GE(value, 1);
            if (limit >= 1) {
                EXPECT_LE(value, limit);
            }
        }
    }
}

TEST(UnitsFieldTest, NegativeUsableAndValue) {
    const struct {
        const wchar_t* text;
        float value;
        bool negative;
        bool usable;
    } cases[] = {
        {L"1.0", 1.0f, false, true},
        {L"-2", -2.0f, true, false},
        {L"-0.001", -0.001f, true, false},
        {L"0", 0.0f, false, false},
        {L"abc", 0.0f, false, false},
        {L"", 0.0f, false, false},
        {L"-", 0.0f, false, false},
        {L".", 0.0f, false, false},
        {L"2.5 x", 2.5f, false, true},
        {L"1,5", 1.5f, false, true},  // a decimal comma reads as the point
        {L"-1,5", -1.5f, true, false},
        {L"  0.25", 0.25f, false, true},
        {L"1e3", 1000.0f, false, true},
        {L"1e-50", 0.0f, false, false},   // below the float range
        {L"1e39", INFINITY, false, false},  // beyond the float range
        {L"-1e39", -INFINITY, true, false},
        // Only the first 15 characters are read.
        {L"             -2", -2.0f, true, false},  // 13 spaces
        {L"              -2", 0.0f, false, false},  // 14 spaces: "-" only
        {L"0.0000000000001234", 1e-13f, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << Narrow(c.text) << '"');
        const float value = UnitsValue(c.text);
        EXPECT_EQ(value, c.value) << std::hexfloat << value << " want " << c.value;
        EXPECT_EQ(UnitsTextIsNegative(c.text), c.negative);
        EXPECT_EQ(UnitsAreUsable(value), c.usable);
    }
    // Convert takes the field only when it holds a number and nothing else.
    const struct {
        const wchar_t* text;
        std::optional<float> units;
    } whole[] = {
        {L"1.5", 1.5f}, {L"1,5", 1.5f}, {L" 2.5 ", 2.5f}, {L"-2", -2.0f}, {L"1e3", 1000.0f},
        {L"1.5abc", std::nullopt}, {L"2.5 x", std::nullopt}, {L"1,5,3", std::nullopt},
        {L"1.5.3", std::nullopt}, {L"abc", std::nullopt}, {L"", std::nullopt}, {L"-", std::nullopt},
    };
    for (const auto& c : whole) EXPECT_EQ(UnitsFromText(c.text), c.units) << '"' << Narrow(c.text) << '"';
    EXPECT_FALSE(UnitsTextIsNegative(L"-0"));
    EXPECT_FALSE(UnitsAreUsable(UnitsValue(L"-0")));
    EXPECT_FALSE(UnitsAreUsable(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_TRUE(UnitsAreUsable(std::numeric_limits<float>::denorm_min()));
}

struct EstimateCase {
    RegionWindow region;
    const wchar_t* interpolated;
    const wchar_t* floating;
};

TEST(EstimateTest, TextsOfBothMethods) {
    const EstimateCase cases[] = {
        {{1, 1, 4, 3}, L"20\n24\n12", L"48\n24\n12"},
        {{1, 1, 1, 1}, L"4\n2\n1", L"4\n2\n1"},
        {{2, 3, 2, 7}, L"12\n10\n5", L"20\n10\n5"},
        {{1, 1, 1000, 1000}, L"1 002 001\n2 000 000\n1 000 000", L"4 000 000\n2 000 000\n1 000 000"},
        // X min above X max, or Y min above Y max: an empty region, all 0.
        {{10, 5, 5, 5}, L"0\n0\n0", L"0\n0\n0"},
        {{5, 5, 4, 5}, L"0\n0\n0", L"0\n0\n0"},
        {{1, 9, 4, 3}, L"0\n0\n0", L"0\n0\n0"},
        {{INT32_MAX, 1, INT32_MIN, 1}, L"0\n0\n0", L"0\n0\n0"},
        // Over 536 million cells: the Floating planes vertices pass 2^31.
        {{1, 1, 23171, 23171}, L"536 941 584\n1 073 790 482\n536 895 241",
         L"2 147 580 964\n1 073 790 482\n536 895 241"},
        // Over 2^31 cells: every count passes 32 bits.
        {{1, 1, 65536, 65536}, L"4 295 098 369\n8 589 934 592\n4 294 967 296",
         L"17 179 869 184\n8 589 934 592\n4 294 967 296"},
    };
    for (const EstimateCase& c : cases) {
        const RegionWindow& r = c.region;
        SCOPED_TRACE(testing::Message() << "region " << r.xMin << ' ' << r.yMin << ' ' << r.xMax << ' ' << r.yMax);
        const RegionEstimates e = EstimateRegion(r);
        EXPECT_EQ(Narrow(InterpolatedEstimateText(e)), Narrow(c.interpolated));
        EXPECT_EQ(Narrow(FloatingEstimateText(e)), Narrow(c.floating));
        EXPECT_EQ(e.quads, e.cells);
        EXPECT_EQ(e.triangles, 2 * e.cells);
        EXPECT_EQ(RegionIsEmpty(r), e.cells == 0);
    }
}

// The largest grid a header can announce is 2147483647 columns by 2147483647
// rows, and the region fields accept it whole. Its Floating planes vertex
// count, 4 x (2^31 - 1)^2, is beyond even 64 bits; the estimate must not come
// out wrapped (negative or below the cell count).
TEST(EstimateTest, LargestGridDoesNotWrap) {
    const RegionEstimates e = EstimateRegion({1, 1, INT32_MAX, INT32_MAX});
    EXPECT_EQ(e.cells, 4611686014132420609);
    EXPECT_EQ(e.corners, 4611686018427387904);
    EXPECT_EQ(e.triangles, 9223372028264841218);
    EXPECT_GE(e.floatingVertices, e.cells) << "shown as \"" << Narrow(FloatingEstimateText(e)) << '"';
}

TEST(PathPartsTest, FolderAndMiddleEllipsis) {
    EXPECT_EQ(FileNameStart(L"C:\\data\\tile.asc"), 8u);
    EXPECT_EQ(FileNameStart(L"C:tile.asc"), 2u);
    EXPECT_EQ(FileNameStart(L"tile.asc"), 0u);
    EXPECT_EQ(Narrow(MiddleEllipsis(L"tile.asc", 8)), "tile.asc");
    EXPECT_EQ(MiddleEllipsis(L"abcdefghij.asc", 7), L"abcd\x2026" L"asc");
    EXPECT_EQ(MiddleEllipsis(L"abcdefghij.asc", 6), L"abc\x2026" L"asc");
    EXPECT_EQ(MiddleEllipsis(L"abc", 0), L"\x2026");
}

TEST(FileInfoTest, PanelTexts) {
    GridHeader h;
    h.ncols = 4;
    h.nrows = 3;
    h.xllcorner = 100.5f;
    h.yllcorner = 200.0f;
    h.cellsize = 1.0f;
    h.nodata = -9999;
    FileInfoTexts t = MakeFileInfoTexts(L"terrain", L".asc", h);
    EXPECT_EQ(t.records, 12);
    EXPECT_EQ(Narrow(t.column1), "terrain.asc\n4\n3\n12");
    EXPECT_EQ(Narrow(t.column2), "100.50\n200.00\n1.00\n-9999");

    h.ncols = 100000;
    h.nrows = 65536;
    h.xllcorner = 123456.789f;
    h.yllcorner = -0.0f;
    h.cellsize = 0.125f;
    h.nodata = INT32_MIN;
    t = MakeFileInfoTexts(L"", L"", h);
    EXPECT_EQ(t.records, 6553600000);
    EXPECT_EQ(Narrow(t.column1), "\n100 000\n65 536\n6 553 600 000");
    EXPECT_EQ(Narrow(t.column2), "123456.79\n-0.00\n0.13\n-2147483648");
    h.cellsize = 0.000833333333f;  // a degree grid's cells keep three significant digits
    EXPECT_EQ(Narrow(MakeFileInfoTexts(L"", L"", h).column2), "123456.79\n-0.00\n0.000833\n-2147483648");

    h.ncols = INT32_MAX;
    h.nrows = INT32_MAX;
    EXPECT_EQ(MakeFileInfoTexts(L"a", L"", h).records, 4611686014132420609);

    // dx is the cell size shown; a no-data value that is not whole keeps the
    // digits that tell it apart.
    h.cellsize = 2.0f;
    h.nonSquare = true;
    h.cellsizeY = 0.5f;
    h.nodataWhole = false;
    const struct {
        float value;
        const char* shown;
    } nodata[] = {{-FLT_MAX, "-3.4028235e+38"}, {-3.4028230607370965e+38f, "-3.402823e+38"},
                  {-1e30f, "-1e+30"}, {-9999.75f, "-9999.75"}, {NAN, "nan"}, {-INFINITY, "-inf"}};
    for (const auto& n : nodata) {
        h.nodataValue = n.value;
        EXPECT_EQ(Narrow(MakeFileInfoTexts(L"a", L"", h).column2), std::string("123456.79\n-0.00\n2.00\n") + n.shown);
    }
}

TEST(FileInfoTest, ShownNameIsCutTo63Characters) {
    GridHeader h;
    const std::wstring stem59(59, L's');
    EXPECT_EQ(MakeFileInfoTexts(stem59, L".asc", h).column1.substr(0, 64), stem59 + L".asc\n");
    const std::wstring stem70(70, L's');
    EXPECT_EQ(MakeFileInfoTexts(stem70, L".asc", h).column1.substr(0, 64), std::wstring(63, L's') + L"\n");
    const std::wstring stem60(60, L's');
    EXPECT_EQ(MakeFileInfoTexts(stem60, L".asc", h).column1.substr(0, 64), stem60 + L".as\n");
}

TEST(PathPartsTest, SplitsStemAndExtension) {
    const struct {
        const wchar_t* path;
        const wchar_t* stem;
        const wchar_t* ext;
    } cases[] = {
        {L"C:\\data\\terrain.tar.asc", L"terrain.tar", L".asc"},
        {L"C:\\data\\terrain", L"terrain", L""},
        {L"C:\\data.v2\\terrain", L"terrain", L""},
        {L"C:/data.v2/terrain", L"terrain", L""},
        {L"C:\\data\\.asc", L"", L".asc"},
        {L"C:\\data\\terrain.", L"terrain", L"."},
        {L"/home/u/maps.d/peak.asc", L"peak", L".asc"},
        {L"C:\\a/b\\c.d/e.asc", L"e", L".asc"},
        {L"C:/a\\b/c.d\\e.asc", L"e", L".asc"},
        {L"\\\\server\\share\\grid.ASC", L"grid", L".ASC"},
        {L"C:name.asc", L"name", L".asc"},
        {L"z:name", L"name", L""},
        {L"C:.asc", L"", L".asc"},
        {L"terrain.asc", L"terrain", L".asc"},
        {L"C:\\data\\", L"", L""},
        {L"", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        std::wstring stem = L"old", ext = L".old";
        SplitGridPath(c.path, stem, ext);
        EXPECT_EQ(Narrow(stem), Narrow(c.stem));
        EXPECT_EQ(Narrow(ext), Narrow(c.ext));
    }
}

TEST(PathPartsTest, PartsOfAnyLength) {
    const std::wstring folder = L"C:\\" + std::wstring(300, L'f') + L".d\\";
    const std::wstring stem200(200, L's');
    const struct {
        std::wstring name, stem, ext;
    } cases[] = {
        {L"survey.2024-01-05", L"survey", L".2024-01-05"},
        {L"tile.final_version", L"tile", L".final_version"},
        {stem200 + L".asc", stem200, L".asc"},
        {stem200, stem200, L""},
    };
    for (const auto& c : cases) {
        std::wstring stem = L"old", ext = L".old";
        SplitGridPath(folder + c.name, stem, ext);
        EXPECT_EQ(stem, c.stem);
        EXPECT_EQ(ext, c.ext);
        EXPECT_EQ(OutputFileName(stem, FloatingPlanes), c.stem + L"__floating_planes.obj");
        EXPECT_EQ(NarrowOutputName(stem, Interpolated), Narrow(c.stem) + "__interpolated.obj");
    }
}

#ifndef _WIN32
// A Linux name is bytes: valid UTF-8 reads as its characters, any other byte
// survives the trip through wide text, so the output lands under the same bytes.
TEST(PathPartsTest, LinuxNamesKeepTheirBytes) {
    for (const char* name : {"H\xc3\xb6he_\xe5\x9c\xb0.asc", "gel\xe4nde.asc", "\xff\xfe\xc3", "\xed\xa0\x80\xc0\xaf"}) {
        EXPECT_EQ(WidePath(PathToWide(std::filesystem::path(name))).native(), name);
    }
    EXPECT_EQ(PathToWide(std::filesystem::path("H\xc3\xb6he")), L"H\u00f6he");
}
#endif

}  // namespace
