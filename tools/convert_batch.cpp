#include "tools/convert_batch.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "job/output_file.h"
#include "tools/convert_console.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

bool ReadAll(std::FILE* file, std::string& bytes) {
    char block[65536];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, got);
    return !std::ferror(file);
}

// `count` bytes from `offset`; fewer at the end.
std::string ReadAt(std::FILE* file, int64_t offset, std::size_t count) {
#ifdef _WIN32
    const int moved = _fseeki64(file, offset, SEEK_SET);
#else
    const int moved = fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
    std::string bytes(count, '\0');
    bytes.resize(moved == 0 ? std::fread(&bytes[0], 1, count, file) : 0);
    return bytes;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// "...\n# 1234 quads" (or "triangles", a simplified mesh's) at the very end.
bool EndsWithFaceCount(const std::string& tail) {
    const std::string faces = EndsWith(tail, " quads") ? " quads" : " triangles";
    if (!EndsWith(tail, faces)) return false;
    std::size_t at = tail.size() - faces.size(), digits = 0;
    for (; at > 0 && tail[at - 1] >= '0' && tail[at - 1] <= '9'; --at) ++digits;
    return digits > 0 && at >= 3 && tail.compare(at - 3, 3, "\n# ") == 0;
}

// Writes and flushes a whole line; false with errno set (EIO when the
// system gave no reason) when it is not all written.
bool WriteLine(std::FILE* file, const std::string& line) {
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), file) == line.size() && std::fflush(file) == 0) return true;
    if (errno == 0) errno = EIO;
    return false;
}

std::string Field(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = '?';
    return text;
}

}  // namespace

bool ReadGridList(const ArgText& source, std::vector<ArgText>& paths, std::string& problem) {
    const bool standardInput = source.size() == 1 && source[0] == '-';
    const std::string name = standardInput ? "standard input" : Ascii(source);
    std::string bytes;
    errno = 0;
    if (standardInput) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        if (!ReadAll(stdin, bytes)) return problem = "--from: standard input could not be read", false;
    } else {
        std::FILE* file = OpenExistingFile(fs::path(source), false);
        if (file == nullptr)
            return problem = "--from: " + name + " cannot be opened: " + std::generic_category().message(errno), false;
        const bool read = ReadAll(file, bytes);
        std::fclose(file);
        if (!read) return problem = "--from: " + name + " could not be read", false;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    std::size_t number = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos)
            return problem = "--from: line " + std::to_string(number) + " of " + name + " holds a NUL byte", false;
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
#ifdef _WIN32
        const int size = static_cast<int>(line.size());
        const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), size, nullptr, 0);
        if (wide <= 0)
            return problem = "--from: line " + std::to_string(number) + " of " + name + " is not UTF-8", false;
        std::wstring path(static_cast<std::size_t>(wide), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), size, path.data(), wide);
        paths.push_back(std::move(path));
#else
        paths.push_back(std::move(line));
#endif
    }
    return true;
}

bool OutputStandsComplete(const fs::path& path) {
    std::error_code error;
    const uintmax_t size = fs::is_regular_file(path, error) ? fs::file_size(path, error) : 0;
    if (error || size == 0) return false;
    std::FILE* file = OpenExistingFile(path, false);
    if (file == nullptr) return false;
    const std::string head = ReadAt(file, 0, 16);
    const std::string tail = ReadAt(file, static_cast<int64_t>(size > 32 ? size - 32 : 0), 32);
    const std::string extension = path.extension().string();
    std::fclose(file);
    if (extension == ".obj") return head.compare(0, 10, "# Dunmoor ") == 0 && EndsWithFaceCount(tail);
    if (extension == ".png")
        return head.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0 &&
               EndsWith(tail, std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12));
    return !head.empty();
}

RunLog::~RunLog() {
    if (file_ != nullptr) std::fclose(file_);
}

bool RunLog::Open(const fs::path& path, std::string& problem) {
    name_ = Shown(path);
    errno = 0;
    file_ = OpenExistingFile(path, true);
    if (file_ == nullptr) {
        problem = "--log: " + name_ + " cannot be opened: " + std::generic_category().message(errno);
        return false;
    }
    static const std::string kHeader = "path\toutcome\tvertices\ttriangles\tquads\tnodata\tmissing\tseconds\tdetail\n";
    std::fseek(file_, 0, SEEK_END);
    if (std::ftell(file_) == 0 && !WriteLine(file_, kHeader)) {
        problem = "--log: " + name_ + " cannot be written: " + std::generic_category().message(errno);
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

void RunLog::Append(const LogEntry& e) {
    std::string line = Field(e.path) + "\t" + e.outcome + "\t";
    const auto count = [&](bool applies, int64_t n) { line += (applies ? std::to_string(n) : "") + "\t"; };
    count(e.counted && e.mesh, e.counts.vertices);
    count(e.counted && e.mesh, 2 * e.counts.quads + e.counts.triangles);
    count(e.counted && e.mesh, e.counts.quads);
    count(e.counted, e.counts.nodata);
    count(e.counted, e.counts.missing);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", e.seconds);
    line += std::string(seconds) + "\t" + Field(e.detail) + "\n";
    std::lock_guard<std::mutex> hold(lock_);
    if (writeError_ == 0 && !WriteLine(file_, line)) writeError_ = errno;
    if (writeError_ != 0) ++lost_;
}

bool RunLog::Close(std::string& problem) {
    errno = 0;
    const bool closed = std::fclose(file_) == 0;
    const int closeError = errno != 0 ? errno : EIO;
    file_ = nullptr;
    if (writeError_ != 0) {
        problem = "--log: " + name_ + " could not be written: " + std::generic_category().message(writeError_) +
                  "; the lines of " + std::to_string(lost_) + (lost_ == 1 ? " file are" : " files are") +
                  " missing from it";
        return false;
    }
    if (!closed) {
        problem = "--log: " + name_ + " could not be closed: " + std::generic_category().message(closeError) +
                  "; its last lines may be missing";
        return false;
    }
    return true;
}
