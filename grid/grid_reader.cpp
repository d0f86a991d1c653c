#include "grid/grid_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "grid/float_scan.h"

namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// A header token longer than this is not part of a grid header.
constexpr std::size_t kMaxHeaderTokenBytes = std::size_t{1} << 20;
constexpr int32_t kDefaultNodata = -9999;
// A data line longer than this (a row of some hundred million values) is not
// terrain: reading stops there as at a read error, instead of holding ever
// more of a file that is not a grid in memory.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 30;

std::FILE* OpenForReading(const std::filesystem::path& path) {
#ifdef _WIN32
    // The wide path keeps every Unicode name; other processes keep read and
    // write access to the file meanwhile.
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

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
        if (s.buffer.size() >= kMaxLineBytes) {
            s.failed = true;
            return false;
        }
        s.buffer.resize(std::max(kBlockBytes, s.buffer.size() * 2));
    }
    const std::size_t got = std::fread(s.buffer.data() + s.end, 1, s.buffer.size() - s.end, s.file);
    s.end += got;
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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

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

// The no-data value: any number, truncated toward zero ("-9999.0" is -9999).
bool ParseNodata(std::string_view token, int32_t& nodata, std::size_t& consumed) {
    const FloatScan scan = ScanFloat(token.data(), token.data() + token.size());
    if (!scan.ok) return false;
    consumed = static_cast<std::size_t>(scan.next - token.data());
    const std::string text(token.data(), consumed);
    const double value = std::trunc(std::strtod(text.c_str(), nullptr));
    if (!(value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max()))
        return false;
    nodata = static_cast<int32_t>(value);
    return true;
}

bool ParseFloatValue(std::string_view token, float& value, std::size_t& consumed) {
    const FloatScan scan = ScanFloat(token.data(), token.data() + token.size());
    if (!scan.ok) return false;
    value = scan.value;
    consumed = static_cast<std::size_t>(scan.next - token.data());
    return true;
}

bool ParseHeader(GridStream& s, GridHeader& h) {
    for (int position = 1; position <= 6; ++position) {
        std::string_view token;
        if (!PeekToken(s, token)) return false;
        if (position == 6 && ScanFloat(token.data(), token.data() + token.size()).ok) {
            // No no-data line: this number is the first value of row 1.
            h.nodata = kDefaultNodata;
            return true;
        }
        s.begin += token.size();  // the keyword is read and not compared

        if (!PeekToken(s, token)) return false;
        std::size_t consumed = 0;
        bool ok = false;
        switch (position) {
            case 1: ok = ParseCount(token, h.ncols, consumed); break;
            case 2: ok = ParseCount(token, h.nrows, consumed); break;
            case 3: ok = ParseFloatValue(token, h.xllcorner, consumed); break;
            case 4: ok = ParseFloatValue(token, h.yllcorner, consumed); break;
            case 5: ok = ParseFloatValue(token, h.cellsize, consumed); break;
            default: ok = ParseNodata(token, h.nodata, consumed); break;
        }
        if (!ok) return false;
        s.begin += consumed;
    }
    return true;
}

}  // namespace

bool IsGridStreamOpen(const GridStream& stream) { return stream.file != nullptr; }

void CloseGridStream(GridStream& stream) {
    if (stream.file != nullptr) std::fclose(stream.file);
    stream.file = nullptr;
    stream.begin = stream.end = 0;
    stream.atEof = false;
    stream.failed = false;
}

bool ReadGridHeader(const std::filesystem::path& path, GridStream& stream, GridHeader& header) {
    GridStream fresh;
    fresh.file = OpenForReading(path);
    if (fresh.file == nullptr) return false;
    std::setvbuf(fresh.file, nullptr, _IONBF, 0);  // the block buffer is ours
    fresh.buffer.resize(kBlockBytes);

    GridHeader parsed;
    if (!ParseHeader(fresh, parsed)) {
        CloseGridStream(fresh);
        return false;
    }
    std::swap(stream, fresh);
    CloseGridStream(fresh);
    header = parsed;
    return true;
}

bool ReadGridLine(GridStream& s, std::string_view& line) {
    std::size_t scanned = 0;
    for (;;) {
        const char* start = s.buffer.data() + s.begin;
        const std::size_t available = s.end - s.begin;
        const void* found = available > scanned ? std::memchr(start + scanned, '\n', available - scanned) : nullptr;
        if (found != nullptr) {
            const char* lineFeed = static_cast<const char*>(found);
            std::size_t length = static_cast<std::size_t>(lineFeed - start);
            if (length > 0 && start[length - 1] == '\r') --length;
            line = std::string_view(start, length);
            s.begin += static_cast<std::size_t>(lineFeed - start) + 1;
            return true;
        }
        scanned = available;
        if (!Refill(s)) {
            if (s.failed || s.begin == s.end) return false;
            // A last line without a line feed.
            line = std::string_view(s.buffer.data() + s.begin, s.end - s.begin);
            s.begin = s.end;
            return true;
        }
    }
}
