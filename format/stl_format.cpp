// STL, binary: an 80-byte header, the triangle count, then each triangle as
// its facet normal, its three corners (float32, True scale positions with z
// up, as slicers read them) and a zero attribute word; a quad is two
// triangles, split along its first and third corners. A triangle's corners
// stand in the file itself, so the writer keeps the vertex pass's positions
// (12 bytes a vertex) and looks them up for each face; the count is patched
// in at the end.
#include "format/stl_format.h"

#include "dunmoor_version.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kHeaderBytes = 80;
constexpr std::size_t kPositionBytes = 12;
constexpr std::size_t kFacetBytes = 50;

// What the header says; it must not start with "solid", which marks the text
// form of the format.
std::string HeaderText() {
    std::string text = DUNMOOR_NAME " binary STL, true scale, z up";
    text.resize(kHeaderBytes, ' ');
    return text;
}

void PutUint32(char* p, uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    std::memcpy(p, bytes, 4);
}

// The unit normal of the triangle a, b, c (counter-clockwise seen from it).
void FacetNormal(const float* a, const float* b, const float* c, float out[3]) {
    const double u[3] = {double{b[0]} - a[0], double{b[1]} - a[1], double{b[2]} - a[2]};
    const double v[3] = {double{c[0]} - a[0], double{c[1]} - a[1], double{c[2]} - a[2]};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int k = 0; k < 3; ++k) out[k] = length > 0.0 ? static_cast<float>(n[k] / length) : 0.0f;
}

class StlWriter final : public MeshWriter {
public:
    StlWriter(const MeshGeometry& geometry, JobMemory* memory) : g_(geometry), memory_(memory) {}
    ~StlWriter() override { NoteTable(-static_cast<int64_t>(positions_.capacity())); }

    void WriteStartPart(OutputFile& out) override {
        WriteOutputText(out, HeaderText());
        WriteOutputText(out, std::string(4, '\0'));
    }
    void WriteMiddlePart(OutputFile&, const JobCounts&) override {}
    void WriteEndPart(OutputFile& out, const JobCounts& counts) override {
        char count[4];
        PutUint32(count, static_cast<uint32_t>(counts.triangles + 2 * counts.quads));
        PatchOutputBytes(out, static_cast<int64_t>(kHeaderBytes), count, sizeof count);
    }

    bool WriteVertices(PipelineSink& sink, const MeshVertex* vertices, std::size_t count) const override {
        return PutEachVertex(sink, vertices, count, kPositionBytes, [&](char* p, const MeshVertex& v, bool east, bool south) {
            float position[3];
            FloatPosition(g_, v, east, south, false, position);
            std::memcpy(p, position, kPositionBytes);
            return p + kPositionBytes;
        });
    }

    bool WriteFaces(PipelineSink& sink, const int64_t* numbers, std::size_t count, int corners) const override {
        return PutEachFace(sink, numbers, count, corners, (corners == 4 ? 2 : 1) * kFacetBytes,
                           [&](char* p, const int64_t* face) {
                               p = PutFacet(p, face[0], face[1], face[2]);
                               return corners == 4 ? PutFacet(p, face[0], face[2], face[3]) : p;
                           });
    }

    int64_t TableBytes() const override { return 0; }  // the positions are noted as they come
    bool KeepsVertexBytes() const override { return true; }
    void KeepVertexBytes(const char* bytes, std::size_t size) override {
        const std::size_t capacity = positions_.capacity();
        const std::size_t floats = size / sizeof(float);
        const std::size_t start = positions_.size();
        positions_.resize(start + floats);
        std::memcpy(positions_.data() + start, bytes, floats * sizeof(float));
        NoteTable(static_cast<int64_t>(positions_.capacity()) - static_cast<int64_t>(capacity));
    }

private:
    void NoteTable(int64_t floats) {
        if (memory_ != nullptr && floats != 0) memory_->Note(floats * static_cast<int64_t>(sizeof(float)));
    }

    char* PutFacet(char* p, int64_t a, int64_t b, int64_t c) const {
        const float* corners[3] = {&positions_[3 * static_cast<std::size_t>(a)], &positions_[3 * static_cast<std::size_t>(b)],
                                   &positions_[3 * static_cast<std::size_t>(c)]};
        float normal[3];
        FacetNormal(corners[0], corners[1], corners[2], normal);
        std::memcpy(p, normal, kPositionBytes);
        p += kPositionBytes;
        for (const float* corner : corners) {
            std::memcpy(p, corner, kPositionBytes);
            p += kPositionBytes;
        }
        *p++ = 0;
        *p++ = 0;
        return p;
    }

    const MeshGeometry g_;
    JobMemory* const memory_;
    std::vector<float> positions_;  // three a vertex, in number order; filled by the writer role
};

std::unique_ptr<MeshWriter> MakeStlWriter(const MeshGeometry& geometry, const MeshFileInfo&, JobMemory& memory) {
    return std::make_unique<StlWriter>(geometry, &memory);
}

// Our header, and as many facets as the count says.
bool StlStandsComplete(std::FILE* file, int64_t size) {
    const std::string head = ReadFileAt(file, 0, kHeaderBytes + 4);
    if (head.size() != kHeaderBytes + 4 || head.compare(0, 11, "Dunmoor v0.") != 0) return false;
    const unsigned char* c = reinterpret_cast<const unsigned char*>(head.data() + kHeaderBytes);
    const int64_t count = int64_t{c[0]} | int64_t{c[1]} << 8 | int64_t{c[2]} << 16 | int64_t{c[3]} << 24;
    return size == static_cast<int64_t>(kHeaderBytes + 4) + count * static_cast<int64_t>(kFacetBytes);
}

bool StlHolds(int64_t, int64_t triangles, int64_t) { return triangles <= int64_t{UINT32_MAX}; }

}  // namespace

const MeshFormat kStlFormat = {L".stl", MakeStlWriter, StlStandsComplete, StlHolds,
                               "4,294,967,295 triangles, the most an STL file counts"};
