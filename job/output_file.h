// A job's output file, written safely: under a temporary name beside its
// final name, created exclusively, and moved into place only by
// CommitOutputFile, so a job that fails or is cancelled never touches an
// earlier file of that name. A large gathering buffer stands in front of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "job/byte_buffer.h"

// Written by the job's thread, and during a pass by the worker holding the
// pipeline's writer role (one at a time).
struct OutputFile {
    std::FILE* file = nullptr;
    ByteBuffer buffer;
    std::size_t used = 0;
    bool failed = false;  // the file could not be created or a write failed
    std::filesystem::path finalPath;
    std::filesystem::path temporaryPath;
    std::filesystem::path earlierPath;  // an earlier file at finalPath, stepped aside while the job's are placed
    int64_t written = 0;  // bytes handed to the file so far
};

// Opens an existing file by its full Unicode name, to read it ("rb") or to
// append to it ("ab"); other processes keep read and write access to it
// meanwhile. nullptr (and errno set) when it cannot be opened.
std::FILE* OpenExistingFile(const std::filesystem::path& path, bool append = false);

// Up to `count` bytes of `file` from `offset` (fewer at its end; none when
// it cannot be read there).
std::string ReadFileAt(std::FILE* file, int64_t offset, std::size_t count);

// The temporary name of an output file: "<name>.part-<process>-<n>", in the
// same folder, so the move into place stays on one disk. A file left by a
// crash is recognisable by it and never ends in the final extension. A long
// name is shortened in the temporary name only, so that the temporary name,
// and a scratch file's beside it, fit wherever the final name fits.
std::filesystem::path TemporaryOutputPath(const std::filesystem::path& finalPath, int64_t process, int n);
// Removes the temporary files of `finalPath` (and their scratch files) left
// by processes that have ended: a crash or a kill. Returns how many. The
// folder is read once a process, at the first output into it.
int RemoveStaleTemporaries(const std::filesystem::path& finalPath);
// The longest file name (its last part) file systems take: 255 characters
// (UTF-16 units on Windows, bytes elsewhere).
constexpr int kMaxOutputNameLength = 255;
int OutputNameLength(const std::filesystem::path& path);
inline bool OutputNameTooLong(const std::filesystem::path& path) {
    return OutputNameLength(path) > kMaxOutputNameLength;
}

// Creates a new temporary file for `finalPath`, never writing through a file
// or link already standing at a temporary name; false when it cannot be
// created. An earlier file at `finalPath` is not touched.
bool OpenOutputFile(OutputFile& out, const std::filesystem::path& finalPath);
// Writes what is gathered, closes the temporary file and moves it into place,
// replacing an earlier file of the final name. False when a write, the close
// or the move failed; the temporary file is then removed and an earlier file
// stays as it was.
bool CommitOutputFile(OutputFile& out);
// CommitOutputFile in steps, for a job that puts several files in place
// together: writes what is gathered and closes the file (false, and the
// temporary file gone, when that failed); moves it into place, an earlier
// file stepping aside (false when it could not: the earlier file is back);
// then either forgets the earlier file (removes it) or, when another of the
// job's files could not be placed, restores it.
bool FinishOutputFile(OutputFile& out);
bool PlaceOutputFile(OutputFile& out);
void ForgetEarlierFile(OutputFile& out);
void RestoreEarlierFile(OutputFile& out);
// Writes `size` bytes over bytes already written at `offset`: a header whose
// counts are known only at the end, reserved at the start. False when it
// could not (the file then counts as failed).
bool PatchOutputBytes(OutputFile& out, int64_t offset, const char* data, std::size_t size);
// Closes and removes the temporary file; an earlier file stays as it was.
void DiscardOutputFile(OutputFile& out);
// A new read-write file of the job's own beside `out`'s temporary file
// ("<temporary><suffix>", a suffix of at most 8 characters; created only
// where nothing stands yet), gone once closed; nullptr when it cannot be
// created.
std::FILE* CreateScratchFile(const OutputFile& out, const char* suffix);
// Hands the gathered bytes to the file.
void FlushOutputFile(OutputFile& out);

// Room for `bytes` more bytes at the returned position; commit with
// CommitOutputBytes(out, newEnd).
inline char* ReserveOutputBytes(OutputFile& out, std::size_t bytes) {
    if (out.buffer.size() - out.used < bytes) FlushOutputFile(out);
    if (out.buffer.size() - out.used < bytes) out.buffer.resize(out.used + bytes);
    return out.buffer.data() + out.used;
}
inline void CommitOutputBytes(OutputFile& out, char* newEnd) {
    out.used = static_cast<std::size_t>(newEnd - out.buffer.data());
}

void WriteOutputText(OutputFile& out, std::string_view text);
// Writes a block formatted elsewhere straight to the file, behind what is
// gathered.
void WriteOutputBlock(OutputFile& out, const char* data, std::size_t size);

// Copies the file at `from`, which must hold exactly `bytes` bytes, into
// `out` (an image embedded as it is), a block at a time; false when it
// cannot be read or its size has changed.
bool CopyFileInto(OutputFile& out, const std::filesystem::path& from, int64_t bytes);
