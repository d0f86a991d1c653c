// Reading an ESRI ARC/INFO ASCII GRID file: the header by position, then the
// data section line by line from large blocks.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "grid/grid_types.h"

// A grid file open for reading, with its block buffer. The unread bytes are
// buffer[begin, end). After a successful ReadGridHeader it stands right behind
// the header's last number.
struct GridStream {
    std::FILE* file = nullptr;
    std::vector<char> buffer;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool atEof = false;   // the file has no more bytes beyond buffer[end)
    bool failed = false;  // a read error happened
};

bool IsGridStreamOpen(const GridStream& stream);
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
// section starts at that number.
bool ReadGridHeader(const std::filesystem::path& path, GridStream& stream, GridHeader& header);

// Reads the next line of the data section into `line` (without its line feed;
// a carriage return right before the line feed is dropped too). The view stays
// valid until the next read. Returns false when no character is left or a read
// error happened; a last line without a line feed is still returned.
bool ReadGridLine(GridStream& stream, std::string_view& line);
