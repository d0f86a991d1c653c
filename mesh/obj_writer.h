// The OBJ output file: a large gathering buffer in front of the file, the
// header comment block, and the line formats. Every line end is written as
// CR LF explicitly, so the bytes are the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "mesh/number_format.h"

struct ObjOutput {
    std::FILE* file = nullptr;
    std::vector<char> buffer;
    std::size_t used = 0;
    bool failed = false;  // the file could not be created or a write failed
};

// Longest vertex line: "v " + three coordinates with separators + CR LF.
constexpr std::size_t kMaxVertexLineBytes = 2 + 3 * (kMaxFixed2Chars + 1) + 2;
// Longest face line: "f " + four 20-digit indices with separators + CR LF.
constexpr std::size_t kMaxFaceLineBytes = 2 + 4 * 21 + 2;

// Creates (or truncates) the file; false when it cannot be created.
bool OpenObjOutput(ObjOutput& out, const std::filesystem::path& path);
// Writes what is gathered and closes the file; false when any write failed.
bool CloseObjOutput(ObjOutput& out);
// Hands the gathered bytes to the file.
void FlushObjOutput(ObjOutput& out);

// Room for `bytes` more bytes at the returned position; commit with
// CommitObjBytes(out, newEnd).
inline char* ReserveObjBytes(ObjOutput& out, std::size_t bytes) {
    if (out.buffer.size() - out.used < bytes) FlushObjOutput(out);
    if (out.buffer.size() - out.used < bytes) out.buffer.resize(out.used + bytes);
    return out.buffer.data() + out.used;
}
inline void CommitObjBytes(ObjOutput& out, char* newEnd) {
    out.used = static_cast<std::size_t>(newEnd - out.buffer.data());
}

void WriteObjText(ObjOutput& out, std::string_view text);

// "v X Y Z" with each coordinate formatted like "%.2f".
inline char* PutVertexLine(char* p, float x, float y, float z) {
    *p++ = 'v';
    *p++ = ' ';
    p = FormatFixed2(p, x);
    *p++ = ' ';
    p = FormatFixed2(p, y);
    *p++ = ' ';
    p = FormatFixed2(p, z);
    *p++ = '\r';
    *p++ = '\n';
    return p;
}

inline char* PutFaceLine(char* p, int64_t a, int64_t b, int64_t c, int64_t d) {
    *p++ = 'f';
    *p++ = ' ';
    p = FormatInt(p, a);
    *p++ = ' ';
    p = FormatInt(p, b);
    *p++ = ' ';
    p = FormatInt(p, c);
    *p++ = ' ';
    p = FormatInt(p, d);
    *p++ = '\r';
    *p++ = '\n';
    return p;
}

// The title, credit and separator lines, then the timestamp line and two
// empty lines. `timestamp` is "YYYY-MM-DD, HH:MM"; empty means local time now.
void WriteObjHeader(ObjOutput& out, const std::string& timestamp);
// "# N vertices", an empty line, then the object and group lines.
void WriteVertexCountAndNames(ObjOutput& out, int64_t vertexCount, const std::string& outputName);
// "# N quads", the last bytes of the file (no line end).
void WriteQuadCount(ObjOutput& out, int64_t quadCount);
