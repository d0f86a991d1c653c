// Reading an ESRI ARC/INFO ASCII GRID file: the header by position, then the
// data section line by line from large blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "grid/float_scan.h"
#include "grid/grid_types.h"
#include "job/byte_buffer.h"

// A grid file open for reading, with its block buffer. The unread bytes are
// buffer[begin, end). After a successful ReadGridHeader it stands right behind
// the header's last number.
struct GridStream {
    std::FILE* file = nullptr;
    ByteBuffer buffer;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool atEof = false;   // the file has no more bytes beyond buffer[end)
    bool failed = false;  // a read error happened, or a line was over-long
    // A data line longer than this (a row of some hundred million values) is
    // not terrain: reading fails there as at a read error, instead of holding
    // ever more of a file that is not a grid in memory. Tests lower it.
    std::size_t maxLineBytes = std::size_t{1} << 30;
    int64_t bytesRead = 0;  // bytes of the file read into the buffer so far
};

bool IsGridStreamOpen(const GridStream& stream);
// Where the next unread byte lies in the file, and a move there: a job that
// reads the data section twice goes back to where it started.
int64_t GridStreamPosition(const GridStream& stream);
bool SeekGridStream(GridStream& stream, int64_t position);
void CloseGridStream(GridStream& stream);

// Opens `path` into a fresh stream and reads the six header values. Only when
// both succeed does the fresh stream replace `stream` (closing the old file)
// and the values replace `header`; otherwise both are left untouched, so a
// failed selection never disturbs the current one. Fails when the file cannot
// be opened or its header does not extract completely: fewer than six pairs,
// a value that is not a number, or `ncols` or `nrows` below 1 or not whole.
// A fifth keyword "dx" followed by "dy" reads both cell sizes. Any number is
// a no-data value (see GridHeader). A keyword position that holds a number
// instead means the file has no no-data line: `nodata` is -9999 and the data
// section starts at that number. Third and fourth keywords "xllcenter" and
// "yllcenter" give the lower-left cell's centre (see cornerFromCentre).
// It also fails for a cell size no grid can have: not above 0, or one that
// makes a side of the grid longer than 1e15.
bool ReadGridHeader(const std::filesystem::path& path, GridStream& stream, GridHeader& header);
// The same, with the reason for a refused cell size in `problem`, for the
// message ("the header's cell size 0 is not a size: ..."). Empty otherwise,
// also when the file cannot be opened or holds no grid header.
bool ReadGridHeader(const std::filesystem::path& path, GridStream& stream, GridHeader& header,
                    std::string& problem);

// The header alone, read with a small block (a tile set reads every tile's
// header, and a 1 MiB block each would read much of every file). The file is
// closed again.
bool ReadGridHeaderOnly(const std::filesystem::path& path, GridHeader& header, std::string& problem);
// ReadGridHeader with the stream's first block of `firstBlockBytes`.
bool ReadGridHeaderFrom(const std::filesystem::path& path, GridStream& stream, GridHeader& header,
                        std::string& problem, std::size_t firstBlockBytes);

// Reads the next line of the data section into `line`, without its line end:
// a line ends at LF, CR LF or a lone CR. The view stays valid until the next
// read. Returns false when no character is left, or when a read error or a
// line of `maxLineBytes` or more set `failed`; a last line without a line end is
// still returned.
bool ReadGridLine(GridStream& stream, std::string_view& line);

// A line of whitespace only (or none) is blank: it is not a row.
bool IsBlankLine(std::string_view line);

// Reads lines up to the next one that is not blank: the next row.
bool ReadGridRow(GridStream& stream, std::string_view& row);

// Scans the next value of a row in [p, end): the next token, only when the
// whole of it is a number. A token that is not (text, a decimal comma as in
// "56,772", a number cut short as "1e") fails the scan: the row ends there and
// its cells from that one on are missing. "nan", "inf" and numbers beyond the
// float range are numbers here (not finite ones, which no mesh can hold: both
// methods take them as no-data). Inline: it runs once per cell.
inline FloatScan ScanGridCell(const char* p, const char* end) {
    FloatScan scan;
    if (ScanPlainDecimal(p, end, scan)) return scan;
    scan = ScanFloatOrNonFinite(p, end);
    if (scan.ok && scan.next < end && !IsGridSpace(*scan.next)) scan.ok = false;
    return scan;
}

// Appends the next whole lines of the data section to `out`: about
// `targetBytes`, at least one line unless the data has ended, each with its
// line end. False when nothing was appended: the end of the data, a read
// error or a line over the reader's limit (`failed` tells which).
bool ReadGridLines(GridStream& stream, std::vector<char>& out, std::size_t targetBytes);

// The next line of text that holds whole lines: the line without its end
// (LF, CR LF or a lone CR); `p` moves behind it. `p` must be below `end`.
std::string_view NextGridLine(const char*& p, const char* end);
