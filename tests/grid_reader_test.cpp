// The grid file reader: the header read by position, the failures that leave
// the current file in place, and the data section's line reads, including a
// differential check of the block-wise line reader against a plain splitter;
// and the unit of the grid's coordinates that a .prj beside it gives.
#include "grid/grid_reader.h"

#include <gtest/gtest.h>

#include "grid/ground_units.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define DUNMOOR_PID _getpid()
#else
#include <unistd.h>
#define DUNMOOR_PID getpid()
#endif

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlock = std::size_t{1} << 20;  // the reader's first block

const char kStandardHeader[] =
    "ncols 4\nnrows 3\nxllcorner 100.5\nyllcorner 200\ncellsize 1\nNODATA_value -9999\n";
const char kStandardRows[] = "1 2 3 4\n5 6 7 8\n9 10 11 12\n";

// This process's own folder under the test temp folder, so that runs of
// several builds at once do not share files; removed after the last test.
fs::path TestFolder() {
    static const fs::path dir =
        fs::path(::testing::TempDir()) / ("dunmoor_grid_reader_" + std::to_string(DUNMOOR_PID));
    return dir;
}

class RemoveTestFolder : public ::testing::Environment {
public:
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(TestFolder(), ignored);
    }
};
::testing::Environment* const kRemoveTestFolder = ::testing::AddGlobalTestEnvironment(new RemoveTestFolder);

// Writes `bytes` into a file of its own under the test folder.
fs::path WriteFile(const std::string& name, const std::string& bytes) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = TestFolder();
    fs::create_directories(dir);
    std::string unique = std::string(info->test_suite_name()) + "." + info->name() + "." + name;
    for (char& c : unique)
        if (c == '/') c = '_';
    const fs::path path = dir / unique;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Every line the reader returns until it reports the end.
std::vector<std::string> AllLines(GridStream& stream) {
    std::vector<std::string> lines;
    std::string_view line;
    while (ReadGridLine(stream, line)) lines.emplace_back(line);
    return lines;
}

// The rows: the lines that are not blank.
std::vector<std::string> Rows(const std::vector<std::string>& lines) {
    std::vector<std::string> rows;
    for (const std::string& line : lines)
        if (!IsBlankLine(line)) rows.push_back(line);
    return rows;
}

std::vector<float> Values(const std::string& row) {
    std::istringstream in(row);
    in.imbue(std::locale::classic());
    std::vector<float> values;
    float v;
    while (in >> v) values.push_back(v);
    return values;
}

void ExpectStandardHeader(const GridHeader& h) {
    EXPECT_EQ(h.ncols, 4);
    EXPECT_EQ(h.nrows, 3);
    EXPECT_EQ(h.xllcorner, 100.5f);
    EXPECT_EQ(h.yllcorner, 200.0f);
    EXPECT_EQ(h.cellsize, 1.0f);
    EXPECT_EQ(h.nodata, -9999);
}

const std::vector<std::string> kStandardRowTexts = {"1 2 3 4", "5 6 7 8", "9 10 11 12"};

struct OpenGrid {
    GridStream stream;
    GridHeader header;
    ~OpenGrid() { CloseGridStream(stream); }
};

TEST(GridHeaderTest, StandardFileReadsValuesAndRows) {
    OpenGrid g;
    ASSERT_TRUE(ReadGridHeader(WriteFile("std.asc", std::string(kStandardHeader) + kStandardRows),
                               g.stream, g.header));
    ExpectStandardHeader(g.header);
    EXPECT_TRUE(IsGridStreamOpen(g.stream));
    const std::vector<std::string> lines = AllLines(g.stream);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "");  // the rest of the NODATA_value line
    EXPECT_EQ(Rows(lines), kStandardRowTexts);
    std::string_view line;
    EXPECT_FALSE(ReadGridLine(g.stream, line));  // stays at the end
}

// The numbers go by position whatever the keywords; only a centre keyword in
// the third or fourth place moves the exact corner half a cell south-west
// (the classic geometry's float fields keep the numbers as written).
TEST(GridHeaderTest, KeywordsAreTakenByPositionNotByName) {
    const struct {
        const char* header;
        double cornerX, cornerY;
    } cases[] = {
        {"ncols 4\nnrows 3\nxllcenter 100.5\nyllcenter 200\ncellsize 1\nNODATA_value -9999\n", 100, 199.5},
        {"NCOLS 4\nNROWS 3\nXLLCENTER 100.5\nYLLCENTER 200\nCELLSIZE 1\nnodata_VALUE -9999\n", 100, 199.5},
        {"ncols 4\nnrows 3\nxllcorner 100.5\nyllcenter 200\ncellsize 1\nNODATA_value -9999\n", 100.5, 199.5},
        {"a 4\nb 3\n= 100.5\n# 200\nzz 1\nx -9999\n", 100.5, 200},
        {"nrows 4\nncols 3\ncellsize 100.5\nxllcorner 200\nyllcorner 1\nNODATA -9999\n", 100.5, 200},
        {"ncols\t4\r\nnrows\v3\fxllcorner\r100.5 yllcorner\n\n\n200 cellsize   1\n\tNODATA_value -9999\n", 100.5, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(WriteFile("kw.asc", std::string(c.header) + kStandardRows), g.stream,
                                   g.header));
        ExpectStandardHeader(g.header);
        EXPECT_EQ(g.header.cornerX, c.cornerX);
        EXPECT_EQ(g.header.cornerY, c.cornerY);
        EXPECT_EQ(g.header.cornerFromCentre, c.cornerX != 100.5 || c.cornerY != 200);
        EXPECT_EQ(Rows(AllLines(g.stream)), kStandardRowTexts);
    }
}

TEST(GridHeaderTest, DataSectionStartsRightBehindTheSixthNumber) {
    const std::string oneLine =
        "ncols 4 nrows 3 xllcorner 100.5 yllcorner 200 cellsize 1 NODATA_value -9999";
    {
        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(WriteFile("a.asc", oneLine + "\n" + kStandardRows), g.stream, g.header));
        ExpectStandardHeader(g.header);
        const std::vector<std::string> lines = AllLines(g.stream);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], "");
        EXPECT_EQ(Rows(lines), kStandardRowTexts);
    }
    {
        // Text behind the sixth number on its line is the first line read.
        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(WriteFile("b.asc", oneLine + " 7 8\r\n" + kStandardRows), g.stream,
                                   g.header));
        const std::vector<std::string> lines = AllLines(g.stream);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], " 7 8");
    }
    {
        // Blanks behind the sixth number make a blank line: not a row.
        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(
            WriteFile("c.asc", std::string(kStandardHeader, sizeof kStandardHeader - 2) + "  \t\n" + kStandardRows),
            g.stream, g.header));
        ExpectStandardHeader(g.header);
        std::string_view line;
        ASSERT_TRUE(ReadGridLine(g.stream, line));
        EXPECT_EQ(line, "  \t");
        EXPECT_TRUE(IsBlankLine(line));
        EXPECT_EQ(Rows(AllLines(g.stream)), kStandardRowTexts);
    }
}

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A whole no-data value within 32 bits stays whole; any other number is kept
// as the float a cell of the same text reads as (nan and infinities included).
TEST(GridHeaderTest, AnyNumberIsANodataValueAndAddsNoRow) {
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* text;
        bool whole;
        int32_t nodata;
        float value;
    } cases[] = {
        {"-9999.0", true, -9999, 0},        {"-1e3", true, -1000, 0},
        {"+42", true, 42, 0},               {"-2147483648", true, INT32_MIN, 0},
        {"-0.0", true, 0, 0},               {"-9999.75", false, 0, -9999.75f},
        {"0.5", false, 0, 0.5f},            {"3e9", false, 0, 3e9f},
        {"-3.4028234663852886e+38", false, 0, -FLT_MAX},
        {"-3.4028234663852885981e+38", false, 0, -FLT_MAX},
        {"-3.4028230607370965e+38", false, 0, -3.4028230607370965e+38f},
        {"-1.7976931348623157e+308", false, 0, -inf},
        {"-1e+30", false, 0, -1e30f},       {"-1.0000000000000000199e+30", false, 0, -1e30f},
        {"nan", false, 0, std::numeric_limits<float>::quiet_NaN()},
        {"-NaN", false, 0, -std::numeric_limits<float>::quiet_NaN()},
        {"-inf", false, 0, -inf},           {"Infinity", false, 0, inf},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        OpenGrid g;
        const std::string header =
            std::string("ncols 4\nnrows 3\nxllcorner 100.5\nyllcorner 200\ncellsize 1\nNODATA_value ") +
            c.text + "\r\n";
        ASSERT_TRUE(ReadGridHeader(WriteFile("nd.asc", header + kStandardRows), g.stream, g.header));
        EXPECT_EQ(g.header.nodataWhole, c.whole);
        if (c.whole) EXPECT_EQ(g.header.nodata, c.nodata);
        else EXPECT_EQ(FloatBits(g.header.nodataValue), FloatBits(c.value));
        const std::vector<std::string> lines = AllLines(g.stream);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], "");
        EXPECT_EQ(Rows(lines), kStandardRowTexts);
    }
}

// "dx" and "dy" in place of "cellsize" (any case): both read, followed by a
// no-data line or by the first row.
TEST(GridHeaderTest, DxDyHeaderGivesNonSquareCells) {
    const std::string four = "ncols 4\nnrows 3\nxllcorner 100.5\nyllcorner 200\n";
    const struct {
        std::string text;
        bool nonSquare;
        float dy;
        int32_t nodata;
    } cases[] = {
        {four + "dx 1\ndy 2.5\nNODATA_value -9999\n", true, 2.5f, -9999},
        {four + "DX 1 DY 2.5 nodata_value -9998\n", true, 2.5f, -9998},
        {four + "dx           1.000000000000\ndy           2.500000000000\n", true, 2.5f, -9999},
        {four + "cellsize 1\ndy 7\n", false, 1.0f, 7},  // dy without dx: the no-data pair
        {four + "dx 1\nNODATA_value -9999\n", false, 1.0f, -9999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(WriteFile("dxdy.asc", c.text + kStandardRows), g.stream, g.header));
        EXPECT_EQ(g.header.cellsize, 1.0f);
        EXPECT_EQ(g.header.nonSquare, c.nonSquare);
        EXPECT_EQ(CellSizeY(g.header), c.dy);
        EXPECT_EQ(g.header.nodata, c.nodata);
        EXPECT_EQ(Rows(AllLines(g.stream)), kStandardRowTexts);
    }
    OpenGrid g;
    EXPECT_FALSE(ReadGridHeader(WriteFile("dxdy.asc", four + "dx 1\ndy x\nNODATA_value -9999\n"), g.stream,
                                g.header));
}

TEST(GridHeaderTest, HeaderWithoutNodataLineStartsDataAtTheSixthNumber) {
    // As written by common raster tools when the raster has no no-data value.
    const std::string fiveLines =
        "ncols        4\nnrows        3\nxllcorner    100.500000000000\n"
        "yllcorner    200.000000000000\ncellsize     1.000000000000\n";
    {
        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(WriteFile("a.asc", fiveLines + " 1 2 3 4\n 5 6 7 8\n 9 10 11 12\n"),
                                   g.stream, g.header));
        ExpectStandardHeader(g.header);  // nodata defaults to -9999
        const std::vector<std::string> lines = AllLines(g.stream);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(Values(lines[0]), (std::vector<float>{1, 2, 3, 4}));
        EXPECT_EQ(lines[1], " 5 6 7 8");
    }
    // Row 1 may start with any number, a sign or a point included.
    for (const char* first : {"-9999", "-3.5", ".25", "+7", "1e2"}) {
        SCOPED_TRACE(first);
        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(WriteFile("b.asc", fiveLines + first + " 2 3 4\n5 6 7 8\n"), g.stream,
                                   g.header));
        EXPECT_EQ(g.header.nodata, -9999);
        const std::vector<std::string> lines = AllLines(g.stream);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], std::string(first) + " 2 3 4");
    }
}

// Single precision for the classic geometry, and the same text in double
// precision for placing the grid: 5000000.13 is 5000000.0 as a float.
TEST(GridHeaderTest, ValuesAreSingleAndDoublePrecisionAndCountsMayHaveZeroFraction) {
    OpenGrid g;
    ASSERT_TRUE(ReadGridHeader(
        WriteFile("f.asc",
                  "ncols 4.0\nnrows +3.000\nxllcorner 123456.789\nyllcorner 5000000.13\ndx 0.1\ndy +2.5e-1\n"
                  "NODATA_value -9999\n1 2 3 4\n"),
        g.stream, g.header));
    EXPECT_EQ(g.header.ncols, 4);
    EXPECT_EQ(g.header.nrows, 3);
    EXPECT_EQ(g.header.xllcorner, 123456.789f);
    EXPECT_EQ(g.header.yllcorner, 5000000.0f);
    EXPECT_EQ(g.header.cellsize, 0.1f);
    EXPECT_EQ(g.header.cornerX, 123456.789);
    EXPECT_EQ(g.header.cornerY, 5000000.13);
    EXPECT_EQ(g.header.cellWidth, 0.1);
    EXPECT_EQ(g.header.cellHeight, 0.25);
}

TEST(GridHeaderTest, VeryLongKeywordsReadWhole) {
    const std::string longWord(100 * 1000, 'k');
    for (int position = 0; position < 6; ++position) {
        SCOPED_TRACE(position + 1);
        const char* words[] = {"ncols", "nrows", "xllcorner", "yllcorner", "cellsize", "NODATA_value"};
        const char* numbers[] = {"4", "3", "100.5", "200", "1", "-9999"};
        std::string header;
        for (int i = 0; i < 6; ++i) header += (i == position ? longWord : std::string(words[i])) + " " + numbers[i] + "\n";
        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(WriteFile("long.asc", header + kStandardRows), g.stream, g.header));
        ExpectStandardHeader(g.header);
        EXPECT_EQ(Rows(AllLines(g.stream)), kStandardRowTexts);
    }
    // A keyword of several blocks is either read whole or refused; never more.
    OpenGrid g;
    const std::string huge(3 * kBlock + 17, 'K');
    if (ReadGridHeader(WriteFile("huge.asc", huge + " 4\n" + std::string(kStandardHeader).substr(8) + kStandardRows),
                       g.stream, g.header)) {
        ExpectStandardHeader(g.header);
        EXPECT_EQ(Rows(AllLines(g.stream)), kStandardRowTexts);
    } else {
        EXPECT_FALSE(IsGridStreamOpen(g.stream));
    }
}

// The header placed so that the end of the first block falls before each of
// its characters in turn: tokens, numbers and line ends split across blocks.
TEST(GridHeaderTest, HeaderStraddlingTheFirstBlockBoundary) {
    const std::string headers[] = {
        kStandardHeader,
        "ncols 4\r\nnrows 3\r\nxllcorner 100.5\r\nyllcorner 200\r\ncellsize 1\r\nNODATA_value -9999.0\r\n",
        "ncols 4\nnrows 3\nxllcorner 100.5\nyllcorner 200\ncellsize 1\n1 2 3 4\n",
    };
    for (const std::string& header : headers) {
        for (std::size_t split = 0; split <= header.size(); ++split) {
            SCOPED_TRACE(testing::Message() << "header " << &header - headers << ", block ends before byte " << split);
            std::string bytes(kBlock - split, '\n');
            bytes += header;
            bytes += kStandardRows;
            OpenGrid g;
            ASSERT_TRUE(ReadGridHeader(WriteFile("split.asc", bytes), g.stream, g.header));
            ExpectStandardHeader(g.header);
            std::vector<std::string> rows = Rows(AllLines(g.stream));
            if (&header == &headers[2]) rows.erase(rows.begin());  // its "1 2 3 4" is row 1 already
            ASSERT_EQ(rows, kStandardRowTexts);
        }
    }
}

TEST(GridHeaderTest, ReadingTheSameFileAgainReturnsToTheDataSection) {
    const fs::path path = WriteFile("again.asc", std::string(kStandardHeader) + kStandardRows);
    OpenGrid g;
    ASSERT_TRUE(ReadGridHeader(path, g.stream, g.header));
    AllLines(g.stream);
    ASSERT_TRUE(ReadGridHeader(path, g.stream, g.header));
    ExpectStandardHeader(g.header);
    const std::vector<std::string> lines = AllLines(g.stream);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "1 2 3 4");
}

TEST(GridHeaderTest, NonAsciiFileName) {
    const fs::path dir = WriteFile("x", "").parent_path();
    const fs::path path = dir / fs::u8path(u8"H\u00f6he_\u5730\u5f62.asc");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << kStandardHeader << kStandardRows;
    }
    OpenGrid g;
    ASSERT_TRUE(ReadGridHeader(path, g.stream, g.header));
    ExpectStandardHeader(g.header);
}

// Each of these is refused, and the file read before stays current: same
// header, same open stream, still standing at its data section.
TEST(GridHeaderTest, RefusedFilesLeaveTheCurrentFileInPlace) {
    const std::string five = "ncols 4\nnrows 3\nxllcorner 100.5\nyllcorner 200\ncellsize 1\n";
    const auto withCounts = [](const char* ncols, const char* nrows) {
        return std::string("ncols ") + ncols + "\nnrows " + nrows +
               "\nxllcorner 100.5\nyllcorner 200\ncellsize 1\nNODATA_value -9999\n1 2 3 4\n";
    };
    std::string binary = "\x89PNG\r\n\x1a\n";
    const char chunk[] = "\0\0\0\rIHDR\0\0\0\x04\0\0\0\x03\x08\x06";
    binary.append(chunk, sizeof chunk - 1);
    for (int i = 0; i < 512; ++i) binary.push_back(static_cast<char>(i * 37 + 11));
    const auto withCells = [](const char* cells) {
        return std::string("ncols 4\nnrows 3\nxllcorner 100.5\nyllcorner 200\n") + cells +
               "\nNODATA_value -9999\n1 2 3 4\n";
    };
    // `problem`: how the reason for a cell size no grid can have starts;
    // other refusals give none.
    const struct {
        const char* what;
        std::string bytes;
        std::string problem = "";
    } refused[] = {
        {"empty file", ""},
        {"only whitespace", " \r\n\t\n"},
        {"three pairs", "ncols 4\nnrows 3\nxllcorner 100.5\n"},
        {"five pairs and nothing more", five},
        {"five pairs and a keyword", five + "NODATA_value\n"},
        {"five pairs and two keywords", five + "NODATA_value x\n1 2 3 4\n"},
        {"keyword without number", "ncols\nnrows 3\nxllcorner 100.5\nyllcorner 200\ncellsize 1\nNODATA_value -9999\n"},
        {"ncols text", withCounts("abc", "3")},
        {"ncols sign only", withCounts("-", "3")},
        {"ncols 0", withCounts("0", "3")},
        {"ncols negative", withCounts("-4", "3")},
        {"ncols fraction", withCounts("4.5", "3")},
        {"nrows fraction", withCounts("4", "3.01")},
        {"nrows 0", withCounts("4", "0.0")},
        {"nrows exponent", withCounts("4", "3e0")},
        {"nrows beyond 32 bits", withCounts("4", "2147483648")},
        {"float text", "ncols 4\nnrows 3\nxllcorner abc\nyllcorner 200\ncellsize 1\nNODATA_value -9999\n"},
        {"float bare exponent", "ncols 4\nnrows 3\nxllcorner 1e\nyllcorner 200\ncellsize 1\nNODATA_value -9999\n"},
        {"cellsize point", "ncols 4\nnrows 3\nxllcorner 1\nyllcorner 200\ncellsize .\nNODATA_value -9999\n"},
        {"nodata text", five + "NODATA_value none\n1 2 3 4\n"},
        {"nodata word", five + "NODATA_value na\n1 2 3 4\n"},
        {"binary", binary},
        {"cellsize 0", withCells("cellsize 0"), "the header's cell size 0 is not a size"},
        {"cellsize negative", withCells("cellsize -2"), "the header's cell size -2 is not a size"},
        {"dy 0", withCells("dx 1\ndy 0.0"), "the header's dy 0 is not a size"},
        {"cellsize below float", withCells("cellsize 1e-50"), "the header's cell size 1e-50 is too small"},
        {"cellsize 1e30", withCells("cellsize 1e30"), "the header's cell size 1e+30 makes 4 cells 4e+30 long"},
        {"dy of 1e15 rows", withCells("dx 1\ndy 4e14"), "the header's dy 4e+14 makes 3 cells 1.2e+15 long"},
    };

    const fs::path goodPath = WriteFile("good.asc", std::string(kStandardHeader) + kStandardRows);
    OpenGrid g;
    ASSERT_TRUE(ReadGridHeader(goodPath, g.stream, g.header));
    const std::FILE* goodFile = g.stream.file;
    const std::size_t goodBegin = g.stream.begin;
    const std::size_t goodEnd = g.stream.end;

    const auto expectUntouched = [&](const std::string& what) {
        SCOPED_TRACE(what);
        ExpectStandardHeader(g.header);
        EXPECT_TRUE(IsGridStreamOpen(g.stream));
        EXPECT_EQ(g.stream.file, goodFile);
        EXPECT_EQ(g.stream.begin, goodBegin);
        EXPECT_EQ(g.stream.end, goodEnd);
    };
    for (std::size_t i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
        const fs::path path = WriteFile("bad" + std::to_string(i) + ".asc", refused[i].bytes);
        std::string problem = "left over";
        EXPECT_FALSE(ReadGridHeader(path, g.stream, g.header, problem)) << refused[i].what;
        EXPECT_EQ(problem.substr(0, refused[i].problem.size()), refused[i].problem) << refused[i].what;
        EXPECT_EQ(problem.empty(), refused[i].problem.empty()) << refused[i].what << ": " << problem;
        expectUntouched(refused[i].what);
    }
    EXPECT_FALSE(ReadGridHeader(goodPath.parent_path() / "no such file.asc", g.stream, g.header));
    expectUntouched("missing file");
    EXPECT_FALSE(ReadGridHeader(goodPath.parent_path(), g.stream, g.header));
    expectUntouched("a folder");

    // The good file still reads from its data section on.
    const std::vector<std::string> lines = AllLines(g.stream);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(Rows(lines), kStandardRowTexts);

    // And a refused file does not open a stream that was closed.
    GridStream closed;
    GridHeader zero;
    EXPECT_FALSE(ReadGridHeader(WriteFile("bad.asc", ""), closed, zero));
    EXPECT_FALSE(IsGridStreamOpen(closed));
    EXPECT_EQ(zero.ncols, 0);
    EXPECT_EQ(zero.nodata, 0);
}

// The unit a .prj gives where it is more than a geographic system or named
// feet: the last UNIT's factor, the older keyword lines, or nothing understood
// (flagged, and guessed from the header as without one); and where a grid in
// degrees reaches beyond a pole.
TEST(GroundUnitsTest, ProjectionTextsAndPoles) {
    const struct {
        const char* prj;
        double south, cell;  // 10 x 2000 cells from x 10
        GroundUnit unit;
        double metresPerUnit;
        bool unreadable, beyondPole;
    } cases[] = {
        {"PROJCS[\"x\",GEOGCS[\"WGS 84\",UNIT[\"degree\",0.0174532925]],UNIT[\"km\", 1000]]", 6234, 1,
         GroundUnit::OtherLength, 1000, false, false},
        {"PROJCS[\"x\",GEOGCS[\"WGS 84\"],UNIT[\"metre\"]]", 6234000, 1, GroundUnit::Metres, 1, true, false},
        {"Projection GEOGRAPHIC\r\nUnits DD\r\n", 47, 0.001, GroundUnit::Degrees, 1, false, false},
        {"projection STATEPLANE\runits feet\r", 6234000, 1, GroundUnit::UsSurveyFeet, 1200.0 / 3937, false, false},
        {"Projection UTM\nUnits KM\n", 6234000, 1, GroundUnit::Metres, 1, true, false},
        {"", 47, 0.001, GroundUnit::Degrees, 1, true, false},
        {"\x89PNG\r\n\x1a\n\x7f\x01IHDR", 6234000, 1, GroundUnit::Metres, 1, true, false},
        {"Projection GEOGRAPHIC\n", 89.99, 0.001, GroundUnit::Degrees, 1, false, true},
        {"GEOGCS[]", -90, 0.09, GroundUnit::Degrees, 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prj);
        GridHeader h;
        h.ncols = 10;
        h.nrows = 2000;
        h.cornerX = 10;
        h.cornerY = c.south;
        h.cellWidth = h.cellHeight = c.cell;
        const GroundUnits units = GroundUnitsOf(h, true, c.prj);
        EXPECT_EQ(units.unit, c.unit);
        EXPECT_DOUBLE_EQ(units.metresPerUnit, c.metresPerUnit);
        EXPECT_EQ(units.projectionUnreadable, c.unreadable);
        EXPECT_EQ(LatitudeProblem(h, units).empty(), !c.beyondPole);
    }
}

// A folder named as the .prj stands beside the grid, though it cannot be read.
TEST(GroundUnitsTest, AProjectionThatCannotBeReadIsThere) {
    const fs::path grid = WriteFile("g.asc", kStandardHeader);
    std::string text = "left over";
    EXPECT_FALSE(ReadProjectionBeside(grid, text));
    fs::create_directory(fs::path(grid).replace_extension(".prj"));
    EXPECT_TRUE(ReadProjectionBeside(grid, text));
    EXPECT_EQ(text, "");
}

// Opens a file of the standard header followed by `data`.
std::vector<std::string> DataLines(const std::string& name, const std::string& data) {
    OpenGrid g;
    EXPECT_TRUE(ReadGridHeader(WriteFile(name, std::string(kStandardHeader, sizeof kStandardHeader - 2) + data),
                               g.stream, g.header));
    return AllLines(g.stream);
}

TEST(GridLineTest, EmptyAndWhitespaceLinesAreReadButAreNotRows) {
    const std::vector<std::string> lines =
        DataLines("e.asc", "\n\n \t\n1 2 3 4\n\n\v\f\n5 6 7 8\n9 10 11 12\n\n  \n");
    EXPECT_EQ(lines, (std::vector<std::string>{"", "", " \t", "1 2 3 4", "", "\v\f", "5 6 7 8", "9 10 11 12", "", "  "}));
    EXPECT_EQ(Rows(lines), kStandardRowTexts);
    std::vector<std::string> rows;
    OpenGrid g;
    ASSERT_TRUE(ReadGridHeader(WriteFile("r.asc", std::string(kStandardHeader) + "  \n" + kStandardRows + " \t"),
                               g.stream, g.header));
    std::string_view row;
    while (ReadGridRow(g.stream, row)) rows.emplace_back(row);
    EXPECT_EQ(rows, kStandardRowTexts);
}

TEST(GridLineTest, CrLfAndLfReadAlike) {
    const std::string lf = "\n1 2 3 4\n\n5 6 7 8\n  \n9 10 11 12\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(DataLines("lf.asc", lf), DataLines("crlf.asc", crlf));
    EXPECT_EQ(Rows(DataLines("crlf.asc", crlf)), kStandardRowTexts);
}

TEST(GridLineTest, LfCrLfAndALoneCrEachEndALine) {
    EXPECT_EQ(DataLines("cr.asc", "\n1 2\r3 4\n\r\r\n\r\n\r5\r\n6\r"),
              (std::vector<std::string>{"", "1 2", "3 4", "", "", "", "", "5", "6"}));
    EXPECT_EQ(Rows(DataLines("mac.asc", "\r1 2 3 4\r5 6 7 8\r\r9 10 11 12\r")), kStandardRowTexts);
}

TEST(GridLineTest, ALineOverTheLimitFailsTheRead) {
    OpenGrid g;
    ASSERT_TRUE(ReadGridHeader(WriteFile("long.asc", std::string(kStandardHeader) + "1 2 3 4\r\n" +
                                                         std::string(5000, '7') + "\n5 6 7 8\n"),
                               g.stream, g.header));
    g.stream.maxLineBytes = 4096;
    std::string_view line;
    ASSERT_TRUE(ReadGridRow(g.stream, line));
    EXPECT_EQ(line, "1 2 3 4");
    EXPECT_FALSE(ReadGridRow(g.stream, line));
    EXPECT_TRUE(g.stream.failed);
    EXPECT_FALSE(ReadGridLine(g.stream, line));
}

TEST(GridLineTest, LastLineWithoutLineFeedIsRead) {
    EXPECT_EQ(DataLines("a.asc", "\n1 2 3 4\n5 6 7 8"), (std::vector<std::string>{"", "1 2 3 4", "5 6 7 8"}));
    EXPECT_EQ(DataLines("b.asc", ""), (std::vector<std::string>{}));
    EXPECT_EQ(DataLines("c.asc", " "), (std::vector<std::string>{" "}));
}

// Reference: the bytes split at every LF, CR LF and lone CR, one at a time.
std::vector<std::string> ReferenceLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') {
            line += bytes[i];
            continue;
        }
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        lines.push_back(line);
        line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string Describe(const std::string& line) {
    std::ostringstream out;
    out << line.size() << " bytes";
    if (line.size() <= 40) {
        out << " \"";
        for (unsigned char c : line) {
            if (c == '\r') out << "\\r";
            else out << c;
        }
        out << '"';
    }
    return out.str();
}

void ExpectSameLines(const std::vector<std::string>& got, const std::vector<std::string>& want) {
    const std::size_t n = std::min(got.size(), want.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (got[i] != want[i]) {
            std::size_t at = 0;
            while (at < got[i].size() && at < want[i].size() && got[i][at] == want[i][at]) ++at;
            ADD_FAILURE() << "line " << i << " differs at byte " << at << ": got " << Describe(got[i])
                          << ", want " << Describe(want[i]);
            return;
        }
    }
    EXPECT_EQ(got.size(), want.size()) << "line count";
}

// Several MiB of lines of every length, from empty to longer than a block, with
// LF, CR LF, lone CRs and an unterminated last line, read block by block.
TEST(GridLineTest, MatchesAPlainSplitterAcrossBlockBoundaries) {
    std::mt19937 random(20240611);
    const auto below = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    for (int file = 0; file < 6; ++file) {
        SCOPED_TRACE(testing::Message() << "file " << file);
        std::string data;
        while (data.size() < 5 * kBlock) {
            const uint32_t kind = below(100);
            std::size_t length;
            if (kind < 15) length = 0;
            else if (kind < 85) length = below(80);
            else if (kind < 97) length = below(64 * 1024);
            else length = kBlock / 2 + below(static_cast<uint32_t>(2 * kBlock));
            for (std::size_t i = 0; i < length; ++i) {
                const uint32_t r = below(64);
                data.push_back(r == 0 ? '\r' : r < 12 ? ' ' : static_cast<char>('0' + r % 10));
            }
            const uint32_t end = below(10);
            data += end < 5 ? "\n" : end < 9 ? "\r\n" : "\r\r\n";
        }
        if (file % 2 == 1) data += "12 13\r";  // no line feed at the end

        // Line ends placed exactly at the first block's end, where the header
        // (first two characters of the standard header count) meets the data.
        const std::string header = kStandardHeader;
        const std::size_t blockEnd = kBlock - header.size();
        if (file == 0) data.replace(blockEnd - 1, 2, "\r5");    // a lone CR ends block 1
        if (file == 2) data.replace(blockEnd - 1, 2, "\r\n");  // CR ends block 1, LF starts block 2
        if (file == 3) data.replace(blockEnd - 1, 1, "\n");    // LF is the block's last byte
        if (file == 4) data.replace(blockEnd, 1, "\n");        // LF is the next block's first byte
        if (file == 5) data.resize(blockEnd);                  // the file ends with the block

        OpenGrid g;
        ASSERT_TRUE(ReadGridHeader(WriteFile("big.asc", header + data), g.stream, g.header));
        ExpectStandardHeader(g.header);
        // The standard header ends with the line feed of its sixth line, which
        // is the first line read.
        ExpectSameLines(AllLines(g.stream), ReferenceLines("\n" + data));

        // The same rows in blocks of whole lines of about 1 KiB, as the job's
        // workers take them (a CR LF cut between two blocks adds a blank line).
        OpenGrid b;
        ASSERT_TRUE(ReadGridHeader(WriteFile("big.asc", header + data), b.stream, b.header));
        std::vector<std::string> blockLines;
        std::vector<char> block;
        while (ReadGridLines(b.stream, block, 1024)) {
            for (const char* p = block.data(); p < block.data() + block.size();)
                blockLines.emplace_back(NextGridLine(p, block.data() + block.size()));
            block.clear();
        }
        ExpectSameLines(Rows(blockLines), Rows(ReferenceLines("\n" + data)));
    }
}

}  // namespace
