#include "grid/grid_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "grid/float_scan.h"
#include "job/number_format.h"
#include "job/output_file.h"
#include "job/test_hooks.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t kReadBlockBytes = std::size_t{1} << 20;

std::size_t ReadBlockBytes() {
    const std::size_t bytes = CurrentTestHooks().readBlockBytes;
    return bytes != 0 ? bytes : kReadBlockBytes;
}
// A header token longer than this is not part of a grid header.
constexpr std::size_t kMaxHeaderTokenBytes = std::size_t{1} << 20;
constexpr int32_t kDefaultNodata = -9999;
// What a header alone is read with: one small block, grown only for a header
// longer than it.
constexpr std::size_t kHeaderBlockBytes = 4096;

// Reads more of the file behind the unread bytes, moving them to the front
// and growing the buffer when the unread bytes fill it. Returns false when no
// byte was added (end of file or read error).
bool Refill(GridStream& s) {
    if (s.atEof || s.failed || s.file == nullptr) return false;
    if (s.begin > 0) {
        std::memmove(s.buffer.data(), s.buffer.data() + s.begin, s.end - s.begin);
        s.end -= s.begin;
        s.begin = 0;
    }
    if (s.end == s.buffer.size()) {
        if (s.buffer.size() >= s.maxLineBytes) {
            s.failed = true;
            return false;
        }
        s.buffer.resize(std::max(ReadBlockBytes(), s.buffer.size() * 2));
    }
    const std::size_t got = std::fread(s.buffer.data() + s.end, 1, s.buffer.size() - s.end, s.file);
    s.end += got;
    s.bytesRead += static_cast<int64_t>(got);
    if (got == 0) {
        if (std::ferror(s.file)) s.failed = true;
        else s.atEof = true;
        return false;
    }
    return true;
}

// Skips whitespace and makes the whole next token (a run of non-whitespace)
// available; returns false at the end of the file.
bool PeekToken(GridStream& s, std::string_view& token) {
    for (;;) {
        while (s.begin < s.end && IsGridSpace(s.buffer[s.begin])) ++s.begin;
        if (s.begin < s.end) break;
        if (!Refill(s)) return false;
    }
    std::size_t length = 0;
    for (;;) {
        while (s.begin + length < s.end && !IsGridSpace(s.buffer[s.begin + length])) ++length;
        if (s.begin + length < s.end) break;
        if (length > kMaxHeaderTokenBytes) return false;
        if (!Refill(s)) break;  // the token ends at the end of the file
    }
    token = std::string_view(s.buffer.data() + s.begin, length);
    return true;
}

// A row or column count: digits, optionally followed by a fraction of zeros
// ("4" or "4.0"); anything else is not a whole count of at least 1.
bool ParseCount(std::string_view token, int32_t& count, std::size_t& consumed) {
    std::size_t i = 0;
    if (i < token.size() && token[i] == '+') ++i;
    const std::size_t digitsStart = i;
    int64_t value = 0;
    for (; i < token.size() && IsDigit(token[i]); ++i) {
        value = value * 10 + (token[i] - '0');
        if (value > std::numeric_limits<int32_t>::max()) return false;
    }
    if (i == digitsStart) return false;
    if (i < token.size() && token[i] == '.') {
        ++i;
        for (; i < token.size() && IsDigit(token[i]); ++i) {
            if (token[i] != '0') return false;
        }
    }
    if (value < 1) return false;
    count = static_cast<int32_t>(value);
    consumed = i;
    return true;
}

// The no-data value: any number, "nan" and "inf" included. A whole number
// within the 32-bit range ("-9999", "-9999.0", "-1e3") is kept whole, as cells
// are compared with it by both methods; any other (-3.4028234663852886e+38,
// -1e+30, nan, 0.5) is kept as the float that reading it as a cell gives.
bool ParseNodata(std::string_view token, GridHeader& h, std::size_t& consumed) {
    const FloatScan scan = ScanFloatOrNonFinite(token.data(), token.data() + token.size());
    if (!scan.ok) return false;
    consumed = static_cast<std::size_t>(scan.next - token.data());
    const std::string text(token.data(), consumed);
    const double value = std::isfinite(scan.value) ? std::strtod(text.c_str(), nullptr) : scan.value;
    h.nodataWhole = value == std::trunc(value) && value >= std::numeric_limits<int32_t>::min() &&
                    value <= std::numeric_limits<int32_t>::max();
    h.nodata = h.nodataWhole ? static_cast<int32_t>(value) : 0;
    h.nodataValue = h.nodataWhole ? 0.0f : scan.value;
    return true;
}

// A real number of the header: the float the classic geometry counts in, and
// the double of the same text, which places the grid on the ground.
bool ParseRealValue(std::string_view token, float& value, double& exact, std::size_t& consumed) {
    const FloatScan scan = ScanFloat(token.data(), token.data() + token.size());
    if (!scan.ok) return false;
    value = scan.value;
    consumed = static_cast<std::size_t>(scan.next - token.data());
    exact = std::strtod(std::string(token.data(), consumed).c_str(), nullptr);
    return true;
}

bool IsKeyword(std::string_view token, const char* lowerCase) {
    std::size_t i = 0;
    for (; i < token.size() && lowerCase[i] != '\0'; ++i) {
        if ((token[i] | 0x20) != lowerCase[i]) return false;
    }
    return i == token.size() && lowerCase[i] == '\0';
}

// Reads a keyword (not compared) and the number behind it with `parse`.
template <typename Parse>
bool ReadPair(GridStream& s, Parse parse) {
    std::string_view token;
    if (!PeekToken(s, token)) return false;
    s.begin += token.size();
    if (!PeekToken(s, token)) return false;
    std::size_t consumed = 0;
    if (!parse(token, consumed)) return false;
    s.begin += consumed;
    return true;
}

// True when the next keyword is `lowerCase` (any case).
bool NextKeywordIs(GridStream& s, const char* lowerCase) {
    std::string_view token;
    return PeekToken(s, token) && IsKeyword(token, lowerCase);
}

// A centre keyword gives the lower-left cell's centre: its corner lies half a
// cell further south-west.
void PlaceCornerFromCentre(GridHeader& h, bool xCentre, bool yCentre) {
    if (xCentre) h.cornerX -= h.cellWidth / 2.0;
    if (yCentre) h.cornerY -= h.cellHeight / 2.0;
    h.cornerFromCentre = xCentre || yCentre;
}

// The six pairs by position. Keywords are not compared, with two exceptions:
// a fifth keyword "dx" followed by "dy" (any case) gives non-square cells,
// and the no-data pair comes after dy; a third keyword "xllcenter" and a
// fourth "yllcenter" give the lower-left cell's centre instead of its corner.
bool ParseHeader(GridStream& s, GridHeader& h) {
    const auto count = [](int32_t& field) {
        return [&field](std::string_view t, std::size_t& n) { return ParseCount(t, field, n); };
    };
    const auto real = [](float& field, double& exact) {
        return [&field, &exact](std::string_view t, std::size_t& n) { return ParseRealValue(t, field, exact, n); };
    };
    if (!ReadPair(s, count(h.ncols)) || !ReadPair(s, count(h.nrows))) return false;
    const bool xCentre = NextKeywordIs(s, "xllcenter");
    if (!ReadPair(s, real(h.xllcorner, h.cornerX))) return false;
    const bool yCentre = NextKeywordIs(s, "yllcenter");
    if (!ReadPair(s, real(h.yllcorner, h.cornerY))) return false;
    const bool dx = NextKeywordIs(s, "dx");
    if (!ReadPair(s, real(h.cellsize, h.cellWidth))) return false;
    h.cellHeight = h.cellWidth;
    if (dx && NextKeywordIs(s, "dy")) {
        if (!ReadPair(s, real(h.cellsizeY, h.cellHeight))) return false;
        h.nonSquare = true;
    }
    PlaceCornerFromCentre(h, xCentre, yCentre);

    std::string_view token;

    if (!PeekToken(s, token)) return false;
    if (ScanFloatOrNonFinite(token.data(), token.data() + token.size()).ok) {
        // No no-data line: this number is the first value of row 1.
        h.nodata = kDefaultNodata;
        return true;
    }
    return ReadPair(s, [&h](std::string_view t, std::size_t& n) { return ParseNodata(t, h, n); });
}

// A grid longer than this on a side, in any unit, lies on no ground: the
// Earth's circumference is 4e7 m (1.3e8 ft, 4e10 mm). Below it a double still
// places every cell edge within an eighth of a unit and a coordinate's text keeps
// to 16 digits before the point; a cell size of 1e30 would give 31.
constexpr double kMaxGridSide = 1e15;

// What rules out a cell size of the header (`name` as the message calls it)
// for a side of `cells` cells; empty when nothing does. `single` is the float
// the classic geometry counts in: a size that only the double holds (1e-50)
// is no size for it.
std::string CellSizeProblem(const char* name, double size, float single, int32_t cells) {
    const std::string stated = std::string("the header's ") + name + " " + ShortestText(size);
    if (!(size > 0.0) || !std::isfinite(size)) return stated + " is not a size: cells must be larger than 0";
    if (!(single > 0.0f)) return stated + " is too small for a cell";
    if (size * cells > kMaxGridSide)
        return stated + " makes " + std::to_string(cells) + " cells " + ShortestText(size * cells) +
               " long, longer than any ground (at most 1e+15)";
    return "";
}

// The first cell size problem of a header: its width across the columns,
// then its height down the rows.
std::string HeaderCellSizeProblem(const GridHeader& h) {
    const char* width = h.nonSquare ? "dx" : "cell size";
    const char* height = h.nonSquare ? "dy" : "cell size";
    std::string problem = CellSizeProblem(width, h.cellWidth, h.cellsize, h.ncols);
    if (problem.empty()) problem = CellSizeProblem(height, h.cellHeight, CellSizeY(h), h.nrows);
    return problem;
}

}  // namespace


bool IsGridStreamOpen(const GridStream& stream) { return stream.file != nullptr; }

int64_t GridStreamPosition(const GridStream& stream) {
    return stream.bytesRead - static_cast<int64_t>(stream.end - stream.begin);
}

bool SeekGridStream(GridStream& stream, int64_t position) {
    if (stream.file == nullptr) return false;
#ifdef _WIN32
    const bool moved = _fseeki64(stream.file, position, SEEK_SET) == 0;
#else
    const bool moved = fseeko(stream.file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
    stream.begin = stream.end = 0;
    stream.atEof = false;
    stream.failed = !moved;
    stream.bytesRead = position;
    return moved;
}

void CloseGridStream(GridStream& stream) {
    if (stream.file != nullptr) std::fclose(stream.file);
    stream.file = nullptr;
    stream.begin = stream.end = 0;
    stream.atEof = false;
    stream.failed = false;
}

bool ReadGridHeader(const std::filesystem::path& path, GridStream& stream, GridHeader& header) {
    std::string ignored;
    return ReadGridHeader(path, stream, header, ignored);
}

bool ReadGridHeader(const std::filesystem::path& path, GridStream& stream, GridHeader& header,
                    std::string& problem) {
    return ReadGridHeaderFrom(path, stream, header, problem, ReadBlockBytes());
}

bool ReadGridHeaderOnly(const std::filesystem::path& path, GridHeader& header, std::string& problem) {
    GridStream stream;
    const bool read = ReadGridHeaderFrom(path, stream, header, problem, kHeaderBlockBytes);
    CloseGridStream(stream);
    return read;
}

bool ReadGridHeaderFrom(const std::filesystem::path& path, GridStream& stream, GridHeader& header,
                        std::string& problem, std::size_t firstBlockBytes) {
    problem.clear();
    GridStream fresh;
    fresh.file = OpenExistingFile(path);
    if (fresh.file == nullptr) return false;
    std::setvbuf(fresh.file, nullptr, _IONBF, 0);  // the block buffer is ours
    fresh.buffer.resize(firstBlockBytes);

    GridHeader parsed;
    const bool extracted = ParseHeader(fresh, parsed);
    if (extracted) problem = HeaderCellSizeProblem(parsed);
    if (!extracted || !problem.empty()) {
        CloseGridStream(fresh);
        return false;
    }
    std::swap(stream, fresh);
    CloseGridStream(fresh);
    header = parsed;
    return true;
}

namespace {

// Index of the first CR or LF in start[from, available), or `available`.
// One pass for both bytes, 32 at a time: every byte of the grid goes through
// here twice (the reader counts rows, a worker splits them), and the C
// library's memchr is a byte loop on some Windows runtimes.
std::size_t FindLineEnd(const char* start, std::size_t from, std::size_t available) {
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const auto lineEnds = [&](std::size_t at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + at));
        return _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr));
    };
    for (; i + 32 <= available; i += 32) {
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(lineEnds(i))) |
                              static_cast<unsigned>(_mm_movemask_epi8(lineEnds(i + 16))) << 16;
        if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    for (; i < available; ++i)
        if (start[i] == '\n' || start[i] == '\r') return i;
    return available;
}

}  // namespace

bool ReadGridLine(GridStream& s, std::string_view& line) {
    std::size_t scanned = 0;  // leading bytes known to hold no line end
    for (;;) {
        const char* start = s.buffer.data() + s.begin;
        const std::size_t available = s.end - s.begin;
        const std::size_t at = available > scanned ? FindLineEnd(start, scanned, available) : available;
        // A CR as the last byte read may be the first half of a CR LF: read on.
        const bool crAtEnd = at + 1 == available && start[at] == '\r' && !s.atEof;
        if (at >= s.maxLineBytes) {
            s.failed = true;
            return false;
        }
        if (at < available && !crAtEnd) {
            std::size_t consumed = at + 1;
            if (start[at] == '\r' && consumed < available && start[consumed] == '\n') ++consumed;
            line = std::string_view(start, at);
            s.begin += consumed;
            return true;
        }
        scanned = at;
        if (!Refill(s)) {
            if (s.failed || s.begin == s.end) return false;
            // A last line without a line end (or ended by a lone CR).
            std::size_t length = s.end - s.begin;
            if (s.buffer[s.end - 1] == '\r') --length;
            line = std::string_view(s.buffer.data() + s.begin, length);
            s.begin = s.end;
            return true;
        }
    }
}

bool IsBlankLine(std::string_view line) {
    for (char c : line)
        if (!IsGridSpace(c)) return false;
    return true;
}

bool ReadGridRow(GridStream& s, std::string_view& row) {
    while (ReadGridLine(s, row))
        if (!IsBlankLine(row)) return true;
    return false;
}

namespace {

// Bytes of text[0, size) up to and including its last line end: the last LF,
// or the last CR when there is no LF. 0 when there is none.
std::size_t WholeLinesLength(const char* text, std::size_t size) {
    for (const char end : {'\n', '\r'}) {
        for (std::size_t i = size; i > 0; --i)
            if (text[i - 1] == end) return i;
    }
    return 0;
}

}  // namespace

bool ReadGridLines(GridStream& s, std::vector<char>& out, std::size_t targetBytes) {
    for (;;) {
        const char* start = s.buffer.data() + s.begin;
        const std::size_t available = s.end - s.begin;
        std::size_t take = WholeLinesLength(start, std::min(available, targetBytes));
        if (take == 0) {
            const std::size_t first = FindLineEnd(start, 0, available);
            if (first < available) take = first + 1;
        }
        if (take == 0 && available > 0 && s.atEof) take = available;  // a last line without a line end
        if (take > 0) {
            out.insert(out.end(), start, start + take);
            s.begin += take;
            return true;
        }
        if (available >= s.maxLineBytes) {
            s.failed = true;
            return false;
        }
        if (!Refill(s) && (s.failed || s.begin == s.end)) return false;
    }
}

std::string_view NextGridLine(const char*& p, const char* end) {
    const std::size_t at = FindLineEnd(p, 0, static_cast<std::size_t>(end - p));
    const std::string_view line(p, at);
    p += at;
    if (p < end) {
        if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
        ++p;
    }
    return line;
}
