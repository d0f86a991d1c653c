#include "mesh/obj_writer.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
ObjWriterTestHooks g_testHooks;
// Numbers the temporary files of this process, so jobs running side by side
// never share one.
std::atomic<int> g_lastTemporary{0};
constexpr int kTemporaryAttempts = 100;

int64_t ProcessNumber() {
#ifdef _WIN32
    return _getpid();
#else
    return getpid();
#endif
}

// Creates `path` only when nothing stands there yet, so a leftover file or a
// planted link of that name is never written through. A scratch file is
// opened for reading too and is gone once closed (or when the process ends):
// on Windows deleted on close, elsewhere unlinked at once.
std::FILE* CreateNewFile(const std::filesystem::path& path, bool scratch) {
#ifdef _WIN32
    const int flags = _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT |
                      (scratch ? _O_RDWR | _O_TEMPORARY : _O_WRONLY);
    const int fd = _wopen(path.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, scratch ? "w+b" : "wb");
    if (file == nullptr) _close(fd);
#else
    const int fd = open(path.c_str(), (scratch ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_CLOEXEC,
                        scratch ? 0600 : 0666);
    if (fd < 0) return nullptr;
    if (scratch) unlink(path.c_str());
    std::FILE* file = fdopen(fd, scratch ? "w+b" : "wb");
    if (file == nullptr) close(fd);
#endif
    return file;
}

// Replaces whatever file stands at `to` in one step.
bool MoveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

void CloseObjFile(ObjOutput& out) {
    if (out.file == nullptr) return;
    if (std::fclose(out.file) != 0) out.failed = true;
    out.file = nullptr;
}

void RemoveTemporary(ObjOutput& out) {
    if (out.temporaryPath.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(out.temporaryPath, ignored);
    out.temporaryPath.clear();
}

std::string LocalTimestampNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d, %H:%M", &local);
    return text;
}
}  // namespace

std::FILE* CreateScratchFile(const std::filesystem::path& path) { return CreateNewFile(path, true); }

void SetObjWriterTestHooks(const ObjWriterTestHooks& hooks) {
    g_testHooks = hooks;
}

std::filesystem::path TemporaryObjPath(const std::filesystem::path& finalPath, int64_t process, int n) {
    std::filesystem::path path = finalPath;
    path += ".part-" + std::to_string(process) + "-" + std::to_string(n);
    return path;
}

bool OpenObjOutput(ObjOutput& out, const std::filesystem::path& finalPath) {
    out.finalPath = finalPath;
    out.file = nullptr;
    for (int attempt = 0; attempt < kTemporaryAttempts && out.file == nullptr; ++attempt) {
        out.temporaryPath = TemporaryObjPath(finalPath, ProcessNumber(), ++g_lastTemporary);
        out.file = CreateNewFile(out.temporaryPath, false);
        if (out.file == nullptr && errno != EEXIST) break;
    }
    if (out.file == nullptr) out.temporaryPath.clear();
    out.used = 0;
    out.written = 0;
    out.failed = out.file == nullptr;
    if (out.file != nullptr) std::setvbuf(out.file, nullptr, _IONBF, 0);
    out.buffer.resize(g_testHooks.gatherBytes);
    return !out.failed;
}

namespace {
// Hands bytes to the file; a disk made full by the test hooks takes only
// what fits.
void WriteToFile(ObjOutput& out, const char* data, std::size_t size) {
    if (size == 0 || out.file == nullptr || out.failed) return;
    std::size_t bytes = size;
    const int64_t room = g_testHooks.writableBytes - out.written;
    if (g_testHooks.writableBytes >= 0 && static_cast<int64_t>(bytes) > room) {
        bytes = static_cast<std::size_t>(room > 0 ? room : 0);
        out.failed = true;  // the disk is full after these bytes
    }
    const std::size_t wrote = std::fwrite(data, 1, bytes, out.file);
    out.written += static_cast<int64_t>(wrote);
    if (wrote != bytes) out.failed = true;
}
}  // namespace

void FlushObjOutput(ObjOutput& out) {
    WriteToFile(out, out.buffer.data(), out.used);
    out.used = 0;
}

void WriteObjBlock(ObjOutput& out, const char* data, std::size_t size) {
    if (size == 0) return;
    FlushObjOutput(out);
    WriteToFile(out, data, size);
}

bool CommitObjOutput(ObjOutput& out) {
    FlushObjOutput(out);
    CloseObjFile(out);
    if (!out.failed && MoveIntoPlace(out.temporaryPath, out.finalPath)) {
        out.temporaryPath.clear();
        return true;
    }
    out.failed = true;
    RemoveTemporary(out);
    return false;
}

void DiscardObjOutput(ObjOutput& out) {
    out.used = 0;
    CloseObjFile(out);
    RemoveTemporary(out);
}

void WriteObjText(ObjOutput& out, std::string_view text) {
    char* p = ReserveObjBytes(out, text.size());
    std::memcpy(p, text.data(), text.size());
    CommitObjBytes(out, p + text.size());
}

void WriteObjHeader(ObjOutput& out, const std::string& timestamp) {
    WriteObjText(out,
                 "# Dunmoor v0.2\r\n"
                 "# Terrain mesh converter, (c) 2018 Dunmoor, https://dunmoor.example\r\n"
                 "#\r\n");
    WriteObjText(out, "# File conversion started at: ");
    WriteObjText(out, timestamp.empty() ? LocalTimestampNow() : timestamp);
    WriteObjText(out, "\r\n\r\n\r\n");
}

// "# N" followed by `rest`: the count comments of the file.
static void WriteCountComment(ObjOutput& out, int64_t count, std::string_view rest) {
    char* p = ReserveObjBytes(out, 2 + 20 + rest.size());
    *p++ = '#';
    *p++ = ' ';
    p = FormatInt(p, count);
    std::memcpy(p, rest.data(), rest.size());
    CommitObjBytes(out, p + rest.size());
}

void WriteVertexCountAndNames(ObjOutput& out, int64_t vertexCount, const std::string& outputName) {
    WriteCountComment(out, vertexCount, " vertices\r\n\r\n");
    WriteObjText(out, "o ");
    WriteObjText(out, outputName);
    WriteObjText(out, "\r\ng ");
    WriteObjText(out, outputName);
    WriteObjText(out, "\r\n");
}

void WriteQuadCount(ObjOutput& out, int64_t quadCount) {
    WriteCountComment(out, quadCount, " quads");
}
