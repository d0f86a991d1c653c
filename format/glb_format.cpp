// glTF 2.0, binary (.glb): one mesh of one triangle primitive, in glTF's own
// axes (x east, y up, z south, True scale metres over the units, from the
// region's south-west corner). The binary chunk holds each vertex's position
// and normal side by side (float32, 24 bytes a vertex), then the triangles'
// vertex numbers (uint16 when they all fit below the restart value 65535,
// else uint32), a quad as two triangles split along its first and third
// corners. The JSON chunk comes first but its counts, lengths and bounds are
// known only at the end: it is written with room for the largest, then
// patched, its spare room spaces (which JSON allows).
//
// float32 holds a position to a millimetre only some kilometres from its
// origin: where the geometry measures from another origin than the region's
// south-west corner (a tile set's), the positions stay measured from that
// corner, and the node's translation places the mesh from the origin.
#include "format/glb_format.h"

#include "dunmoor_version.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "job/number_format.h"

namespace {

// A vertex: its position and normal, and its texture coordinates when the
// mesh has a texture.
constexpr std::size_t kPositionBytes = 12;
constexpr std::size_t kTextureBytes = 8;
constexpr std::size_t kCornerBytes = 2 * kPositionBytes + kTextureBytes;  // the most a vertex takes
constexpr uint32_t kMagic = 0x46546C67;                 // "glTF"
constexpr uint32_t kJsonChunk = 0x4E4F534A;             // "JSON"
constexpr uint32_t kBinChunk = 0x004E4942;              // "BIN\0"
constexpr std::size_t kFileHeaderBytes = 12, kChunkHeaderBytes = 8;
// The most vertices whose numbers fit uint16: 65535 itself restarts strips.
constexpr int64_t kShortIndexVertices = 65535;
constexpr uint64_t kLargestFile = 0xFFFFFFFFu;  // the file's length is a uint32

void PutUint32(char* p, uint32_t value) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<char>(value >> (8 * k));
}

std::string Uint32Bytes(uint32_t value) {
    char bytes[4];
    PutUint32(bytes, value);
    return std::string(bytes, 4);
}

// A JSON string of `text`: its bytes as they are when they are UTF-8 (a
// ".prj" usually is), else each byte as the Latin-1 character it is (the
// mesh's narrow name is).
std::string JsonString(const std::string& text) {
    bool utf8 = true;
    for (std::size_t i = 0; i < text.size() && utf8;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        utf8 = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; utf8 && k < length; ++k) utf8 = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
        i += length;
    }
    std::string json = "\"";
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += ch;
        } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
            static const char hex[] = "0123456789abcdef";
            json += "\\u00";
            json += hex[c >> 4];
            json += hex[c & 15];
        } else {
            json += ch;
        }
    }
    return json + "\"";
}

std::string Number(int64_t value) { return std::to_string(value); }
// A float's exact value: it reads back as the very float the file holds.
std::string Number(float value) { return ShortestText(static_cast<double>(value)); }

std::string Vec3(const float* v) { return "[" + Number(v[0]) + "," + Number(v[1]) + "," + Number(v[2]) + "]"; }

// What the JSON says: the counts and bounds of a mesh of `vertices` vertices
// of `vertexBytes` each and `indices` triangle corners of `indexBytes` each,
// and the image's bytes embedded after them.
struct GlbContents {
    int64_t vertices = 0;
    int64_t vertexBytes = 24;
    int64_t indices = 0;
    int indexBytes = 4;
    const float* low = nullptr;
    const float* high = nullptr;
    int64_t imageBytes = 0;
};

int64_t Padded(int64_t bytes) { return (bytes + 3) / 4 * 4; }
int64_t VertexBlockBytes(const GlbContents& c) { return c.vertices * c.vertexBytes; }
int64_t IndexBlockBytes(const GlbContents& c) { return c.indices * c.indexBytes; }
// Where the image starts: behind the indices, on a 4-byte boundary.
int64_t ImageOffset(const GlbContents& c) { return Padded(VertexBlockBytes(c) + IndexBlockBytes(c)); }
// The binary chunk: the blocks and the image, padded to 4 bytes; an empty
// mesh keeps 4 bytes, as a buffer is never empty.
int64_t BinBytes(const GlbContents& c) {
    const int64_t bytes = c.imageBytes > 0 ? ImageOffset(c) + c.imageBytes : VertexBlockBytes(c) + IndexBlockBytes(c);
    return bytes == 0 ? 4 : Padded(bytes);
}

// The geometry from the region's south-west corner, and the translation
// from the geometry's origin to it (glTF's axes: x east, y up, z south).
MeshGeometry FromRegionCorner(const MeshGeometry& geometry, double translation[3]) {
    MeshGeometry g = geometry;
    translation[0] = g.columnShift * g.stepX;
    translation[1] = 0.0;
    translation[2] = 0.0 - g.rowShift * g.stepY;
    g.columnShift = g.rowShift = 0.0;
    return g;
}

class GlbWriter final : public MeshWriter {
public:
    GlbWriter(const MeshGeometry& geometry, const MeshFileInfo& info)
        : g_(FromRegionCorner(geometry, translation_)), info_(info), moved_(geometry.originKind != 0) {
        // Room for the longest counts and bounds a file can have.
        const float longest[3] = {-1.17549435e-38f, -1.17549435e-38f, -1.17549435e-38f};
        GlbContents most{int64_t{1} << 32, VertexBytes(), int64_t{3} << 32, 4, longest, longest, int64_t{1} << 32};
        jsonBytes_ = static_cast<std::size_t>(Padded(static_cast<int64_t>(JsonText(most).size())));
    }

    void WriteStartPart(OutputFile& out) override {
        std::string start = Uint32Bytes(kMagic) + Uint32Bytes(2) + Uint32Bytes(0);
        start += Uint32Bytes(static_cast<uint32_t>(jsonBytes_)) + Uint32Bytes(kJsonChunk);
        start += std::string(jsonBytes_, ' ');
        start += Uint32Bytes(0) + Uint32Bytes(kBinChunk);
        WriteOutputText(out, start);
    }

    void WriteMiddlePart(OutputFile&, const JobCounts& counts) override {
        indexBytes_ = counts.vertices <= kShortIndexVertices ? 2 : 4;
    }

    void WriteEndPart(OutputFile& out, const JobCounts& counts) override {
        GlbContents c{counts.vertices, VertexBytes(), 3 * (counts.triangles + 2 * counts.quads), indexBytes_,
                      counts.low, counts.high, info_.texture.on ? info_.texture.imageBytes : 0};
        int64_t written = VertexBlockBytes(c) + IndexBlockBytes(c);
        if (c.imageBytes > 0) {
            WriteOutputText(out, std::string(static_cast<std::size_t>(ImageOffset(c) - written), '\0'));
            if (!CopyFileInto(out, info_.texture.image, c.imageBytes)) {
                out.failed = true;  // the image changed or went since the job began
                return;
            }
            written = ImageOffset(c) + c.imageBytes;
        }
        WriteOutputText(out, std::string(static_cast<std::size_t>(BinBytes(c) - written), '\0'));
        std::string json = JsonText(c);
        const uint64_t fileBytes = kFileHeaderBytes + 2 * kChunkHeaderBytes + jsonBytes_ + static_cast<uint64_t>(BinBytes(c));
        if (json.size() > jsonBytes_ || fileBytes > kLargestFile) {
            out.failed = true;  // no GLB holds it (the job refuses such a region before it starts)
            return;
        }
        json.resize(jsonBytes_, ' ');
        const std::string length = Uint32Bytes(static_cast<uint32_t>(fileBytes));
        const std::string bin = Uint32Bytes(static_cast<uint32_t>(BinBytes(c)));
        PatchOutputBytes(out, 8, length.data(), length.size());
        PatchOutputBytes(out, static_cast<int64_t>(kFileHeaderBytes + kChunkHeaderBytes), json.data(), json.size());
        PatchOutputBytes(out, static_cast<int64_t>(kFileHeaderBytes + kChunkHeaderBytes + jsonBytes_), bin.data(),
                         bin.size());
    }

    bool WriteVertices(PipelineSink& sink, const MeshVertex* vertices, std::size_t count) const override {
        return PutEachVertex(sink, vertices, count, kCornerBytes, [&](char* p, const MeshVertex& v, bool east, bool south) {
            float position[3], normal[3];
            FloatPosition(g_, v, east, south, true, position);
            FloatNormal(v, true, normal);
            sink.counts.TakePosition(position);
            std::memcpy(p, position, kPositionBytes);
            std::memcpy(p + kPositionBytes, normal, kPositionBytes);
            p += 2 * kPositionBytes;
            if (info_.texture.on) {  // v counted down from the top, as glTF has it
                float uv[2];
                TextureCoordinates(info_.texture, v, east, south, false, uv);
                std::memcpy(p, uv, kTextureBytes);
                p += kTextureBytes;
            }
            return p;
        });
    }

    bool WriteFaces(PipelineSink& sink, const int64_t* numbers, std::size_t count, int corners) const override {
        if (corners == 4)
            return indexBytes_ == 2 ? PutFaces<uint16_t, 4>(sink, numbers, count) : PutFaces<uint32_t, 4>(sink, numbers, count);
        return indexBytes_ == 2 ? PutFaces<uint16_t, 3>(sink, numbers, count) : PutFaces<uint32_t, 3>(sink, numbers, count);
    }

    int64_t TableBytes() const override { return 0; }

private:
    int64_t VertexBytes() const {
        return static_cast<int64_t>(2 * kPositionBytes + (info_.texture.on ? kTextureBytes : 0));
    }

    template <typename Index, int Corners>
    static bool PutFaces(PipelineSink& sink, const int64_t* numbers, std::size_t count) {
        constexpr int kIndices = Corners == 4 ? 6 : 3;
        return PutEachFace(sink, numbers, count, Corners, kIndices * sizeof(Index), [](char* p, const int64_t* n) {
            Index face[kIndices] = {static_cast<Index>(n[0]), static_cast<Index>(n[1]), static_cast<Index>(n[2])};
            if constexpr (Corners == 4) {
                face[3] = face[0];
                face[4] = face[2];
                face[5] = static_cast<Index>(n[3]);
            }
            std::memcpy(p, face, sizeof face);
            return p + sizeof face;
        });
    }

    // The node says where the positions stand: the grid coordinates of
    // their origin, what the geometry says of itself (as an OBJ's header
    // does), and the grid's coordinate system when a ".prj" gave one.
    std::string NodeText(bool withMesh) const {
        std::string extras = "\"extras\":{\"southWestCorner\":[" + ShortestText(g_.regionX) + "," +
                             ShortestText(g_.regionY) + "],\"notes\":[";
        for (std::size_t i = 0; i < info_.notes.size(); ++i) extras += (i > 0 ? "," : "") + JsonString(info_.notes[i]);
        extras += "]";
        if (!info_.projection.empty()) extras += ",\"coordinateSystem\":" + JsonString(info_.projection);
        extras += "}";
        std::string translation;
        if (moved_)
            translation = "\"translation\":[" + ShortestText(translation_[0]) + "," + ShortestText(translation_[1]) + "," +
                          ShortestText(translation_[2]) + "],";
        return std::string("{") + (withMesh ? "\"mesh\":0," : "") + "\"name\":" + JsonString(info_.name) + "," +
               translation + extras + "}";
    }

    std::string JsonText(const GlbContents& c) const {
        std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"" DUNMOOR_NAME "\"},\"scene\":0,"
                           "\"scenes\":[{\"nodes\":[0]}],\"nodes\":[" + NodeText(c.vertices > 0) + "],";
        json += "\"buffers\":[{\"byteLength\":" + Number(BinBytes(c)) + "}]";
        if (c.vertices == 0) return json + "}";
        const int64_t vertexBytes = VertexBlockBytes(c);
        const bool textured = c.imageBytes > 0;
        json += ",\"bufferViews\":[{\"buffer\":0,\"byteLength\":" + Number(vertexBytes) + ",\"byteStride\":" +
                Number(c.vertexBytes) + ",\"target\":34962},{\"buffer\":0,\"byteOffset\":" + Number(vertexBytes) +
                ",\"byteLength\":" + Number(IndexBlockBytes(c)) + ",\"target\":34963}";
        if (textured)
            json += ",{\"buffer\":0,\"byteOffset\":" + Number(ImageOffset(c)) + ",\"byteLength\":" + Number(c.imageBytes) + "}";
        json += "]";
        json += ",\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":" + Number(c.vertices) +
                ",\"type\":\"VEC3\",\"min\":" + Vec3(c.low) + ",\"max\":" + Vec3(c.high) +
                "},{\"bufferView\":0,\"byteOffset\":12,\"componentType\":5126,\"count\":" + Number(c.vertices) +
                ",\"type\":\"VEC3\"},{\"bufferView\":1,\"componentType\":" + (c.indexBytes == 2 ? "5123" : "5125") +
                ",\"count\":" + Number(c.indices) + ",\"type\":\"SCALAR\"}";
        if (textured)
            json += ",{\"bufferView\":0,\"byteOffset\":24,\"componentType\":5126,\"count\":" + Number(c.vertices) +
                    ",\"type\":\"VEC2\"}";
        json += "]";
        json += ",\"meshes\":[{\"name\":" + JsonString(info_.name) + ",\"primitives\":[{\"attributes\":{\"POSITION\":0,\"NORMAL\":1" +
                (textured ? ",\"TEXCOORD_0\":3},\"material\":0," : "},") + "\"indices\":2,\"mode\":4}]}]";
        if (textured) {
            // The image as it is, drawn on both sides, clamped at its edges.
            json += ",\"images\":[{\"bufferView\":2,\"mimeType\":\"" + info_.texture.mimeType +
                    "\"}],\"samplers\":[{\"magFilter\":9729,\"minFilter\":9987,\"wrapS\":33071,\"wrapT\":33071}],"
                    "\"textures\":[{\"sampler\":0,\"source\":0}],\"materials\":[{\"name\":\"terrain\",\"doubleSided\":true,"
                    "\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0},\"metallicFactor\":0,\"roughnessFactor\":1}}]";
        }
        return json + "}";
    }

    double translation_[3] = {0.0, 0.0, 0.0};  // before g_, which the constructor sets from it
    const MeshGeometry g_;
    const MeshFileInfo info_;
    const bool moved_;  // the node is translated
    std::size_t jsonBytes_ = 0;
    int indexBytes_ = 4;  // set by the middle part, before the faces
};

std::unique_ptr<MeshWriter> MakeGlbWriter(const MeshGeometry& geometry, const MeshFileInfo& info, JobMemory&) {
    return std::make_unique<GlbWriter>(geometry, info);
}

// Our generator, and a length field that is the file's length.
bool GlbStandsComplete(std::FILE* file, int64_t size) {
    const std::string head = ReadFileAt(file, 0, 256);
    if (head.size() < kFileHeaderBytes || head.compare(0, 4, Uint32Bytes(kMagic)) != 0 ||
        head.find("\"generator\":\"Dunmoor v0.") == std::string::npos)
        return false;
    const unsigned char* c = reinterpret_cast<const unsigned char*>(head.data() + 8);
    const int64_t length = int64_t{c[0]} | int64_t{c[1]} << 8 | int64_t{c[2]} << 16 | int64_t{c[3]} << 24;
    return length == size;
}

bool GlbHolds(int64_t vertices, int64_t triangles, int64_t embeddedBytes) {
    const double vertexBytes = 2 * kPositionBytes + (embeddedBytes > 0 ? kTextureBytes : 0);
    return 4096 + static_cast<double>(vertices) * vertexBytes + static_cast<double>(triangles) * 12 +
               static_cast<double>(embeddedBytes) < static_cast<double>(kLargestFile);
}

}  // namespace

const MeshFormat kGlbFormat = {L".glb", MakeGlbWriter, GlbStandsComplete, GlbHolds, "4 GiB, the most a GLB file holds"};
