#include "mesh/obj_writer.h"

#include <cstring>
#include <ctime>
#include <string_view>

namespace {

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

// "# N" followed by `rest`: the count comments of the file.
void WriteCountComment(OutputFile& out, int64_t count, std::string_view rest) {
    char* p = ReserveOutputBytes(out, 2 + kMaxIntChars + rest.size());
    *p++ = '#';
    *p++ = ' ';
    p = FormatInt(p, count);
    p = PutText(p, rest);
    CommitOutputBytes(out, p);
}

}  // namespace

void WriteObjHeader(OutputFile& out, const std::string& timestamp, const std::string& comments) {
    WriteOutputText(out,
                    "# Dunmoor v0.2\r\n"
                    "# Terrain mesh converter, (c) 2018 Dunmoor, https://dunmoor.example\r\n"
                    "#\r\n");
    WriteOutputText(out, "# File conversion started at: ");
    WriteOutputText(out, timestamp.empty() ? LocalTimestampNow() : timestamp);
    WriteOutputText(out, "\r\n");
    WriteOutputText(out, comments);
    WriteOutputText(out, "\r\n\r\n");
}

void WriteVertexCountAndNames(OutputFile& out, int64_t vertexCount, const std::string& outputName) {
    WriteCountComment(out, vertexCount, " vertices\r\n\r\n");
    WriteOutputText(out, "o ");
    WriteOutputText(out, outputName);
    WriteOutputText(out, "\r\ng ");
    WriteOutputText(out, outputName);
    WriteOutputText(out, "\r\n");
}

void WriteQuadCount(OutputFile& out, int64_t quadCount) {
    WriteCountComment(out, quadCount, " quads");
}

void WriteTriangleCount(OutputFile& out, int64_t triangleCount) {
    WriteCountComment(out, triangleCount, " triangles");
}
