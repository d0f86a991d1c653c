#include "mesh/obj_writer.h"

#include <cstring>
#include <ctime>

namespace {
constexpr std::size_t kGatherBytes = std::size_t{4} << 20;

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

bool OpenObjOutput(ObjOutput& out, const std::filesystem::path& path) {
#ifdef _WIN32
    out.file = _wfopen(path.c_str(), L"wb");
#else
    out.file = std::fopen(path.c_str(), "wb");
#endif
    out.used = 0;
    out.failed = out.file == nullptr;
    if (out.file != nullptr) std::setvbuf(out.file, nullptr, _IONBF, 0);
    out.buffer.resize(kGatherBytes);
    return !out.failed;
}

void FlushObjOutput(ObjOutput& out) {
    if (out.used == 0) return;
    if (out.file != nullptr && !out.failed) {
        if (std::fwrite(out.buffer.data(), 1, out.used, out.file) != out.used) out.failed = true;
    }
    out.used = 0;
}

bool CloseObjOutput(ObjOutput& out) {
    FlushObjOutput(out);
    if (out.file != nullptr) {
        if (std::fclose(out.file) != 0) out.failed = true;
        out.file = nullptr;
    }
    return !out.failed;
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
