// The OBJ file's own lines: the header comment block, the count comments and
// names, and the line sizes and formats. Every line end is written as CR LF
// explicitly, so the bytes are the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "job/output_file.h"
#include "job/number_format.h"

// Longest vertex line: "v " + three coordinates with separators + CR LF.
constexpr std::size_t kMaxVertexLineBytes = 2 + 3 * (kMaxFixed2Chars + 1) + 2;
// A vertex number and the space after it.
constexpr std::size_t kMaxIndexTextBytes = kMaxIntChars + 1;
// Longest face line: "f " + four vertex numbers with separators + CR LF.
constexpr std::size_t kMaxFaceLineBytes = 2 + 4 * kMaxIndexTextBytes + 2;

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

// The title, credit and separator lines, then the timestamp line, the
// `comments` lines (each "# ...\r\n"; none in the classic geometry) and two
// empty lines. `timestamp` is "YYYY-MM-DD, HH:MM"; empty means local time now.
void WriteObjHeader(OutputFile& out, const std::string& timestamp, const std::string& comments);
// "# N vertices", an empty line, then the object and group lines.
void WriteVertexCountAndNames(OutputFile& out, int64_t vertexCount, const std::string& outputName);
// "# N quads" (or "# N triangles"), the last bytes of the file (no line end).
void WriteQuadCount(OutputFile& out, int64_t quadCount);
void WriteTriangleCount(OutputFile& out, int64_t triangleCount);
