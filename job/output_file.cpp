#include "job/output_file.h"

#include <vector>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include "job/test_hooks.h"

namespace {
// Numbers the temporary files of this process, so jobs running side by side
// never share one.
std::atomic<int> g_lastTemporary{0};
constexpr int kTemporaryAttempts = 100;
constexpr std::size_t kGatherBytes = std::size_t{4} << 20;
// The longest file name the file systems take: 255 UTF-16 units on Windows,
// 255 bytes elsewhere.
constexpr std::size_t kMaxNameUnits = 255;
// Room kept for the longest suffix a scratch file adds.
constexpr std::size_t kScratchSuffixUnits = 8;
constexpr char kTemporaryMark[] = ".part-";

using NameText = std::filesystem::path::string_type;

// `name` cut to at most `units`, never inside a character: not before a
// UTF-8 continuation byte, nor inside a UTF-16 surrogate pair.
NameText CutName(const NameText& name, std::size_t units) {
    if (name.size() <= units) return name;
    std::size_t end = units;
#ifdef _WIN32
    if (end > 0 && name[end - 1] >= 0xD800 && name[end - 1] <= 0xDBFF) end -= 1;
#else
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) end -= 1;
#endif
    return name.substr(0, end);
}

// The part of the final name a temporary file's name starts with: all of it,
// or as much as leaves room for the mark, the numbers and a scratch suffix,
// so a temporary name fits wherever the final name fits.
NameText TemporaryPrefix(const std::filesystem::path& finalPath) {
    constexpr std::size_t kNumbersUnits = 2 * 20 + 1;  // "<process>-<n>"
    constexpr std::size_t kSuffixUnits = sizeof kTemporaryMark - 1 + kNumbersUnits + kScratchSuffixUnits;
    return CutName(finalPath.filename().native(), kMaxNameUnits - kSuffixUnits) +
           std::filesystem::path(kTemporaryMark).native();
}

// Whether the process of that number has ended (false when unsure).
bool ProcessIsGone(int64_t process) {
#ifdef _WIN32
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process));
    if (handle == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool ended = GetExitCodeProcess(handle, &code) && code != STILL_ACTIVE;
    CloseHandle(handle);
    return ended;
#else
    return process > 0 && kill(static_cast<pid_t>(process), 0) != 0 && errno == ESRCH;
#endif
}

// The process number in a temporary name's rest "<process>-<n>[.suffix]";
// -1 when the rest is not of that form.
int64_t ProcessOfTemporary(const NameText& rest) {
    int64_t process = 0;
    std::size_t i = 0;
    for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && i < 18; ++i) process = process * 10 + (rest[i] - '0');
    if (i == 0 || i == rest.size() || rest[i] != '-' || i + 1 == rest.size()) return -1;
    for (std::size_t j = i + 1; j < rest.size() && rest[j] != '.'; ++j)
        if (rest[j] < '0' || rest[j] > '9') return -1;
    return process;
}

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
// on Windows deleted on close, elsewhere unlinked at once. `error` is the
// errno of a failed create.
std::FILE* CreateNewFile(const std::filesystem::path& path, bool scratch, int& error) {
    error = 0;
#ifdef _WIN32
    const int flags = _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT |
                      (scratch ? _O_RDWR | _O_TEMPORARY : _O_WRONLY);
    const int fd = _wopen(path.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, scratch ? "w+b" : "wb");
    if (file == nullptr) _close(fd);
#else
    const int fd = open(path.c_str(), (scratch ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_CLOEXEC,
                        scratch ? 0600 : 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
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

void CloseOutputFile(OutputFile& out) {
    if (out.file == nullptr) return;
    if (std::fclose(out.file) != 0) out.failed = true;
    out.file = nullptr;
}

void RemoveTemporary(OutputFile& out) {
    if (out.temporaryPath.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(out.temporaryPath, ignored);
    out.temporaryPath.clear();
}

// Hands bytes to the file; a disk made full by the test hooks takes only
// what fits.
void WriteToFile(OutputFile& out, const char* data, std::size_t size) {
    if (size == 0 || out.file == nullptr || out.failed) return;
    std::size_t bytes = size;
    const int64_t writable = CurrentTestHooks().writableBytes;
    const int64_t room = writable - out.written;
    if (writable >= 0 && static_cast<int64_t>(bytes) > room) {
        bytes = static_cast<std::size_t>(room > 0 ? room : 0);
        out.failed = true;  // the disk is full after these bytes
    }
    const std::size_t wrote = std::fwrite(data, 1, bytes, out.file);
    out.written += static_cast<int64_t>(wrote);
    if (wrote != bytes) out.failed = true;
}

}  // namespace

std::FILE* CreateScratchFile(const OutputFile& out, const char* suffix) {
    if (out.temporaryPath.empty()) return nullptr;
    std::filesystem::path path = out.temporaryPath;
    path += suffix;
    int ignored;
    return CreateNewFile(path, true, ignored);
}

std::filesystem::path TemporaryOutputPath(const std::filesystem::path& finalPath, int64_t process, int n) {
    std::filesystem::path path = finalPath.parent_path() / TemporaryPrefix(finalPath);
    path += std::to_string(process) + "-" + std::to_string(n);
    return path;
}

namespace {

// The temporary files left by ended processes, by folder and then by the
// prefix of their output's name. A folder is read once a process: a batch
// converting thousands of tiles into one folder lists it once, not once a
// tile. Guarded by g_staleLock (jobs run side by side).
std::mutex g_staleLock;
std::map<std::filesystem::path, std::multimap<NameText, std::filesystem::path>> g_staleByFolder;

std::multimap<NameText, std::filesystem::path> FindStaleTemporaries(const std::filesystem::path& folder) {
    static const NameText mark = std::filesystem::path(kTemporaryMark).native();
    std::multimap<NameText, std::filesystem::path> stale;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const NameText name = it->path().filename().native();
        const std::size_t at = name.rfind(mark);
        if (at == NameText::npos) continue;
        const NameText prefix = name.substr(0, at + mark.size());
        const int64_t process = ProcessOfTemporary(name.substr(prefix.size()));
        if (process >= 0 && process != ProcessNumber() && ProcessIsGone(process)) stale.emplace(prefix, it->path());
    }
    return stale;
}

}  // namespace

int RemoveStaleTemporaries(const std::filesystem::path& finalPath) {
    const std::filesystem::path folder = finalPath.has_parent_path() ? finalPath.parent_path() : ".";
    std::vector<std::filesystem::path> stale;
    {
        std::lock_guard<std::mutex> guard(g_staleLock);
        auto known = g_staleByFolder.find(folder);
        if (known == g_staleByFolder.end()) known = g_staleByFolder.emplace(folder, FindStaleTemporaries(folder)).first;
        const auto [first, last] = known->second.equal_range(TemporaryPrefix(finalPath));
        for (auto it = first; it != last; ++it) stale.push_back(it->second);
        known->second.erase(first, last);
    }
    int removed = 0;
    std::error_code error;
    for (const std::filesystem::path& path : stale) removed += std::filesystem::remove(path, error) ? 1 : 0;
    return removed;
}

std::FILE* OpenExistingFile(const std::filesystem::path& path, bool append) {
#ifdef _WIN32
    return _wfopen(path.c_str(), append ? L"ab" : L"rb");
#else
    return std::fopen(path.c_str(), append ? "ab" : "rb");
#endif
}

namespace {

// Moves the file's position to `offset` from `whence` (beyond 2 GiB too).
bool SeekFile(std::FILE* file, int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(file, offset, whence) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

}  // namespace

std::string ReadFileAt(std::FILE* file, int64_t offset, std::size_t count) {
    std::string bytes(count, '\0');
    bytes.resize(SeekFile(file, offset, SEEK_SET) ? std::fread(&bytes[0], 1, count, file) : 0);
    return bytes;
}

int OutputNameLength(const std::filesystem::path& path) {
    return static_cast<int>(path.filename().native().size());
}

bool OpenOutputFile(OutputFile& out, const std::filesystem::path& finalPath) {
    out.finalPath = finalPath;
    out.file = nullptr;
    for (int attempt = 0; attempt < kTemporaryAttempts && out.file == nullptr; ++attempt) {
        out.temporaryPath = TemporaryOutputPath(finalPath, ProcessNumber(), ++g_lastTemporary);
        int error = 0;
        out.file = CreateNewFile(out.temporaryPath, false, error);
        if (out.file == nullptr && error != EEXIST) break;  // only a name in use is worth another try
    }
    if (out.file == nullptr) out.temporaryPath.clear();
    out.used = 0;
    out.written = 0;
    out.failed = out.file == nullptr;
    if (out.file != nullptr) std::setvbuf(out.file, nullptr, _IONBF, 0);
    const std::size_t gather = CurrentTestHooks().gatherBytes;
    out.buffer.resize(gather != 0 ? gather : kGatherBytes);
    return !out.failed;
}

void FlushOutputFile(OutputFile& out) {
    WriteToFile(out, out.buffer.data(), out.used);
    out.used = 0;
}

void WriteOutputBlock(OutputFile& out, const char* data, std::size_t size) {
    if (size == 0) return;
    FlushOutputFile(out);
    WriteToFile(out, data, size);
}

bool CopyFileInto(OutputFile& out, const std::filesystem::path& from, int64_t bytes) {
    std::FILE* file = OpenExistingFile(from);
    if (file == nullptr) return false;
    std::vector<char> block(std::size_t{1} << 20);
    int64_t copied = 0;
    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), file)) > 0 && copied + static_cast<int64_t>(got) <= bytes;) {
        WriteOutputBlock(out, block.data(), got);
        copied += static_cast<int64_t>(got);
    }
    const bool ended = std::feof(file) != 0 && std::ferror(file) == 0;
    std::fclose(file);
    return ended && copied == bytes;
}

bool FinishOutputFile(OutputFile& out) {
    FlushOutputFile(out);
    CloseOutputFile(out);
    if (!out.failed) return true;
    RemoveTemporary(out);
    return false;
}

bool PlaceOutputFile(OutputFile& out) {
    std::error_code error;
    const std::filesystem::file_type earlier = std::filesystem::symlink_status(out.finalPath, error).type();
    if (earlier != std::filesystem::file_type::not_found && earlier != std::filesystem::file_type::none) {
        // Only a file (or a link) is replaced, as a rename over it would: a
        // folder of the name stays where it is, and the output fails.
        if (earlier != std::filesystem::file_type::regular && earlier != std::filesystem::file_type::symlink)
            return false;
        // The earlier file steps aside under a temporary name of the job's
        // own, so that it can come back if a later output fails.
        out.earlierPath = TemporaryOutputPath(out.finalPath, ProcessNumber(), ++g_lastTemporary);
        if (!MoveIntoPlace(out.finalPath, out.earlierPath)) {
            out.earlierPath.clear();
            return false;
        }
    }
    if (MoveIntoPlace(out.temporaryPath, out.finalPath)) {
        out.temporaryPath.clear();
        return true;
    }
    if (!out.earlierPath.empty() && MoveIntoPlace(out.earlierPath, out.finalPath)) out.earlierPath.clear();
    return false;
}

void RestoreEarlierFile(OutputFile& out) {
    std::error_code error;
    if (out.earlierPath.empty()) {
        std::filesystem::remove(out.finalPath, error);
        return;
    }
    if (MoveIntoPlace(out.earlierPath, out.finalPath)) out.earlierPath.clear();
}

void ForgetEarlierFile(OutputFile& out) {
    if (out.earlierPath.empty()) return;
    std::error_code error;
    std::filesystem::remove(out.earlierPath, error);
    out.earlierPath.clear();
}

bool CommitOutputFile(OutputFile& out) {
    if (!FinishOutputFile(out)) return false;
    if (!PlaceOutputFile(out)) {
        out.failed = true;
        RemoveTemporary(out);
        return false;
    }
    ForgetEarlierFile(out);
    return true;
}

bool PatchOutputBytes(OutputFile& out, int64_t offset, const char* data, std::size_t size) {
    FlushOutputFile(out);
    const bool within = out.file != nullptr && offset >= 0 && offset + static_cast<int64_t>(size) <= out.written;
    const bool wrote = within && !out.failed && SeekFile(out.file, offset, SEEK_SET) &&
                       std::fwrite(data, 1, size, out.file) == size;
    if (!wrote || !SeekFile(out.file, 0, SEEK_END)) out.failed = true;
    return !out.failed;
}

void DiscardOutputFile(OutputFile& out) {
    out.used = 0;
    CloseOutputFile(out);
    RemoveTemporary(out);
}

void WriteOutputText(OutputFile& out, std::string_view text) {
    char* p = ReserveOutputBytes(out, text.size());
    std::memcpy(p, text.data(), text.size());
    CommitOutputBytes(out, p + text.size());
}
