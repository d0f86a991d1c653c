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

// The file is written under a temporary name beside its final name (see
// TemporaryObjPath) and moved into place only by CommitObjOutput, so a job
// that fails or is cancelled never touches an earlier file of that name.
struct ObjOutput {
    std::FILE* file = nullptr;
    std::vector<char> buffer;
    std::size_t used = 0;
    bool failed = false;  // the file could not be created or a write failed
    std::filesystem::path finalPath;
    std::filesystem::path temporaryPath;
    int64_t written = 0;  // bytes handed to the file so far
};

// Test hooks, process-wide, never changed by the program: the size of the
// gathering buffer, and a disk that is full once `writableBytes` bytes have
// been written (negative: no limit).
struct ObjWriterTestHooks {
    std::size_t gatherBytes = std::size_t{4} << 20;
    int64_t writableBytes = -1;
};
void SetObjWriterTestHooks(const ObjWriterTestHooks& hooks);

// Longest vertex line: "v " + three coordinates with separators + CR LF.
constexpr std::size_t kMaxVertexLineBytes = 2 + 3 * (kMaxFixed2Chars + 1) + 2;
// Longest face line: "f " + four 20-digit indices with separators + CR LF.
constexpr std::size_t kMaxFaceLineBytes = 2 + 4 * 21 + 2;

// The temporary name of an output file: "<name>.part-<process>-<n>", in the
// same folder, so the move into place stays on one disk. A file left by a
// crash is recognisable by it and never ends in ".obj".
std::filesystem::path TemporaryObjPath(const std::filesystem::path& finalPath, int64_t process, int n);
// Creates a new temporary file for `finalPath`; false when it cannot be
// created. An earlier file at `finalPath` is not touched.
bool OpenObjOutput(ObjOutput& out, const std::filesystem::path& finalPath);
// Writes what is gathered, closes the temporary file and moves it into place,
// replacing an earlier file of the final name. False when a write, the close
// or the move failed; the temporary file is then removed and an earlier file
// stays as it was.
bool CommitObjOutput(ObjOutput& out);
// Closes and removes the temporary file; an earlier file stays as it was.
void DiscardObjOutput(ObjOutput& out);
// A new read-write file of the job's own at `path` (created only where nothing
// stands yet), gone once closed; nullptr when it cannot be created.
std::FILE* CreateScratchFile(const std::filesystem::path& path);
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
// Writes a block formatted elsewhere straight to the file, behind what is
// gathered.
void WriteObjBlock(ObjOutput& out, const char* data, std::size_t size);

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
