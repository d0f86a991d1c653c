// PLY, binary little endian: a text header with the counts, each vertex as
// three float32 (x y z, True scale positions with z up, or y up as x, z, -y)
// and, when asked for, its normal as three more (nx ny nz),
// each face as a uchar corner count and int32 vertex numbers from 0 (quads as
// quads, a simplified mesh's triangles as triangles). The counts are known
// only at the end: the header is written with room for the largest ones,
// then patched, its spare room a comment line of spaces.
#include "format/ply_format.h"

#include "dunmoor_version.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A vertex's bytes: its position, its normal and its texture coordinates
// (u, and v up from the image's bottom edge) when the file has them: all
// float properties, 4 bytes each.
constexpr std::size_t kPositionBytes = 12;
constexpr std::size_t kTextureBytes = 8;
// The most a vertex takes.
constexpr std::size_t kCornerBytes = 2 * kPositionBytes + kTextureBytes;
constexpr char kNormalProperties[] = "property float nx\nproperty float ny\nproperty float nz\n";
constexpr char kTextureProperties[] = "property float texture_u\nproperty float texture_v\n";

char* PutInt32(char* p, int64_t value) {
    const int32_t v = static_cast<int32_t>(value);
    std::memcpy(p, &v, sizeof v);
    return p + sizeof v;
}

// The header with these counts, padded with a comment of spaces to `size`
// bytes when it is given.
std::string HeaderText(const MeshFileInfo& info, bool normals, int64_t vertices, int64_t faces, std::size_t size) {
    std::string start = "ply\nformat binary_little_endian 1.0\ncomment " DUNMOOR_NAME "\n";
    for (const std::string& note : info.notes) start += "comment " + note + "\n";
    if (info.texture.on) start += "comment TextureFile " + info.texture.reference + "\n";
    const std::string rest = "element vertex " + std::to_string(vertices) +
                             "\nproperty float x\nproperty float y\nproperty float z\n" +
                             (normals ? kNormalProperties : "") + (info.texture.on ? kTextureProperties : "") +
                             "element face " + std::to_string(faces) +
                             "\nproperty list uchar int vertex_indices\nend_header\n";
    const std::size_t bare = start.size() + rest.size();
    if (size <= bare) return start + rest;
    return start + "comment" + std::string(size - bare - 8, ' ') + "\n" + rest;
}

class PlyWriter final : public MeshWriter {
public:
    PlyWriter(const MeshGeometry& geometry, const MeshFileInfo& info) : g_(geometry), info_(info) {
        // The comment line of the padding takes 8 bytes at least.
        const int64_t most = INT64_MAX;
        headerBytes_ = HeaderText(info_, g_.normals, most, most, 0).size() + 8;
    }

    void WriteStartPart(OutputFile& out) override {
        WriteOutputText(out, HeaderText(info_, g_.normals, 0, 0, headerBytes_));
    }
    void WriteMiddlePart(OutputFile&, const JobCounts&) override {}
    void WriteEndPart(OutputFile& out, const JobCounts& counts) override {
        const int64_t faces = info_.faces == FaceKind::Triangles ? counts.triangles : counts.quads;
        const std::string header = HeaderText(info_, g_.normals, counts.vertices, faces, headerBytes_);
        PatchOutputBytes(out, 0, header.data(), header.size());
    }

    bool WriteVertices(PipelineSink& sink, const MeshVertex* vertices, std::size_t count) const override {
        return PutEachVertex(sink, vertices, count, kCornerBytes, [&](char* p, const MeshVertex& v, bool east, bool south) {
            float position[3];
            FloatPosition(g_, v, east, south, g_.yUp, position);
            std::memcpy(p, position, kPositionBytes);
            p += kPositionBytes;
            if (g_.normals) {
                float normal[3];
                FloatNormal(v, g_.yUp, normal);
                std::memcpy(p, normal, kPositionBytes);
                p += kPositionBytes;
            }
            if (info_.texture.on) {
                float uv[2];
                TextureCoordinates(info_.texture, v, east, south, true, uv);
                std::memcpy(p, uv, kTextureBytes);
                p += kTextureBytes;
            }
            return p;
        });
    }

    bool WriteFaces(PipelineSink& sink, const int64_t* numbers, std::size_t count, int corners) const override {
        return PutEachFace(sink, numbers, count, corners, 1 + 4 * static_cast<std::size_t>(corners),
                           [&](char* p, const int64_t* face) {
                               *p++ = static_cast<char>(corners);
                               for (int k = 0; k < corners; ++k) p = PutInt32(p, face[k]);
                               return p;
                           });
    }

    int64_t TableBytes() const override { return 0; }

private:
    const MeshGeometry g_;
    const MeshFileInfo info_;
    std::size_t headerBytes_ = 0;
};

std::unique_ptr<MeshWriter> MakePlyWriter(const MeshGeometry& geometry, const MeshFileInfo& info, JobMemory&) {
    return std::make_unique<PlyWriter>(geometry, info);
}

// The count of an "element NAME N" line of the header; -1 when missing.
int64_t ElementCount(const std::string& header, const std::string& name) {
    const std::string key = "\nelement " + name + " ";
    const std::size_t at = header.find(key);
    if (at == std::string::npos) return -1;
    char* end = nullptr;
    const long long count = std::strtoll(header.c_str() + at + key.size(), &end, 10);
    return end != nullptr && *end == '\n' && count >= 0 ? count : -1;
}

// Our header, and a size that holds its vertices and faces exactly (all
// quads or all triangles): a file cut short has fewer bytes.
bool PlyStandsComplete(std::FILE* file, int64_t size) {
    const std::string head = ReadFileAt(file, 0, 4096);
    const std::size_t end = head.find("\nend_header\n");
    if (head.compare(0, 55, "ply\nformat binary_little_endian 1.0\ncomment Dunmoor v0.") != 0 ||
        end == std::string::npos)
        return false;
    const std::string header = head.substr(0, end + 1);
    const int64_t vertices = ElementCount(header, "vertex"), faces = ElementCount(header, "face");
    int64_t vertexBytes = 0;
    const std::size_t faceAt = header.find("\nelement face ");
    for (std::size_t at = header.find("\nproperty float "); at < faceAt; at = header.find("\nproperty float ", at + 1))
        vertexBytes += 4;
    if (vertexBytes == 0) return false;
    if (vertices < 0 || faces < 0 || vertices > size / vertexBytes) return false;
    const int64_t body = size - static_cast<int64_t>(end + 12) - vertices * vertexBytes;
    return body == faces * 13 || body == faces * 17;
}

// Vertex numbers are int32.
bool PlyHolds(int64_t vertices, int64_t, int64_t) { return vertices <= INT32_MAX; }

}  // namespace

const MeshFormat kPlyFormat = {L".ply", MakePlyWriter, PlyStandsComplete, PlyHolds,
                               "2,147,483,647 vertices, the most a PLY file's vertex numbers reach"};
