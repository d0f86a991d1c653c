#include "mesh/solid_mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "mesh/flat_fill.h"

namespace {

// ---- Keeping the surface ----

// The surface's vertices and faces as records in the sinks: a vertex as its
// MeshVertex (one a corner), a face as triangles of int32 vertex numbers.
class SurfaceCollector final : public MeshWriter {
public:
    void WriteStartPart(OutputFile&) override {}
    void WriteMiddlePart(OutputFile&, const JobCounts&) override {}
    void WriteEndPart(OutputFile&, const JobCounts&) override {}
    bool WriteVertices(PipelineSink& sink, const MeshVertex* vertices, std::size_t count) const override {
        return PutEachVertex(sink, vertices, count, sizeof(MeshVertex),
                             [](char* p, const MeshVertex& v, bool east, bool south) {
                                 MeshVertex corner = v;
                                 corner.edges = static_cast<uint8_t>((east ? kEastEdge : 0) | (south ? kSouthEdge : 0));
                                 std::memcpy(p, &corner, sizeof corner);
                                 return p + sizeof corner;
                             });
    }
    bool WriteFaces(PipelineSink& sink, const int64_t* numbers, std::size_t count, int corners) const override {
        constexpr std::size_t kTriangleBytes = 3 * sizeof(int32_t);
        return PutEachFace(sink, numbers, count, corners, (corners == 4 ? 2 : 1) * kTriangleBytes,
                           [corners](char* p, const int64_t* face) {
                               const int32_t first[3] = {static_cast<int32_t>(face[0]), static_cast<int32_t>(face[1]),
                                                         static_cast<int32_t>(face[2])};
                               std::memcpy(p, first, kTriangleBytes);
                               p += kTriangleBytes;
                               if (corners == 4) {
                                   const int32_t second[3] = {first[0], first[2], static_cast<int32_t>(face[3])};
                                   std::memcpy(p, second, kTriangleBytes);
                                   p += kTriangleBytes;
                               }
                               return p;
                           });
    }
    int64_t TableBytes() const override { return 0; }
};

// Appends the bytes to `records`: whole records, and a record cut between two
// calls completed from `part`.
template <typename Record>
void AppendRecords(std::vector<Record>& records, std::vector<char>& part, const char* bytes, std::size_t size) {
    while (size > 0) {
        if (!part.empty() || size < sizeof(Record)) {
            const std::size_t take = std::min(sizeof(Record) - part.size(), size);
            part.insert(part.end(), bytes, bytes + take);
            bytes += take;
            size -= take;
            if (part.size() == sizeof(Record)) {
                records.emplace_back();
                std::memcpy(&records.back(), part.data(), sizeof(Record));
                part.clear();
            }
            continue;
        }
        const std::size_t whole = size / sizeof(Record), start = records.size();
        records.resize(start + whole);
        std::memcpy(static_cast<void*>(records.data() + start), bytes, whole * sizeof(Record));
        bytes += whole * sizeof(Record);
        size -= whole * sizeof(Record);
    }
}

// The most vertices a solid keeps: its numbers are int32, with room for the
// bottom's and the split corners'.
constexpr std::size_t kMostSurfaceVertices = INT32_MAX / 2;

// ---- The surface's edges ----

// A vertex's place on the grid's corners: x counts column edges eastward, y
// row edges northward (negative), so that the faces turn counter-clockwise.
LatticePoint SpotOf(const MeshVertex& v) {
    return {v.column - 1 + ((v.edges & kEastEdge) ? 1 : 0), -(v.row - 1 + ((v.edges & kSouthEdge) ? 1 : 0))};
}

// The same in 256ths of a cell, moved as the vertex is (MeshVertex::nudge):
// where corners split apart, the bottom's loops no longer touch.
constexpr int64_t kFineSteps = 256;
static_assert(kNudgeFraction * kFineSteps == 1.0, "a nudge is one fine step");
LatticePoint FineSpotOf(const MeshVertex& v) {
    const LatticePoint p = SpotOf(v);
    const int64_t dx = (v.nudge & kNudgeEast) ? 1 : (v.nudge & kNudgeWest) ? -1 : 0;
    const int64_t dy = (v.nudge & kNudgeNorth) ? 1 : (v.nudge & kNudgeSouth) ? -1 : 0;
    return {p.x * kFineSteps + dx, p.y * kFineSteps + dy};
}

std::size_t NextCorner(std::size_t c) { return c % 3 == 2 ? c - 2 : c + 1; }
std::size_t PreviousCorner(std::size_t c) { return c % 3 == 0 ? c + 2 : c - 1; }

// The triangles' edges as they leave each vertex: to[first[v] .. first[v+1]),
// with the triangle corner each leaves from.
struct HalfEdges {
    std::vector<int64_t> first;
    std::vector<int32_t> to;
    std::vector<int32_t> corner;  // the solid's triangles are fewer than INT32_MAX / 3
};

HalfEdges HalfEdgesOf(std::size_t vertices, const std::vector<int32_t>& triangles) {
    HalfEdges e;
    e.first.assign(vertices + 1, 0);
    for (const int32_t v : triangles) ++e.first[static_cast<std::size_t>(v) + 1];
    for (std::size_t v = 0; v < vertices; ++v) e.first[v + 1] += e.first[v];
    e.to.resize(triangles.size());
    e.corner.resize(triangles.size());
    std::vector<int64_t> at(e.first.begin(), e.first.end() - 1);
    for (std::size_t c = 0; c < triangles.size(); ++c) {
        const int64_t k = at[static_cast<std::size_t>(triangles[c])]++;
        e.to[static_cast<std::size_t>(k)] = triangles[NextCorner(c)];
        e.corner[static_cast<std::size_t>(k)] = static_cast<int32_t>(c);
    }
    return e;
}

// The edge from `from` to `to`, or -1.
int64_t EdgeBetween(const HalfEdges& e, int32_t from, int32_t to) {
    for (int64_t k = e.first[static_cast<std::size_t>(from)]; k < e.first[static_cast<std::size_t>(from) + 1]; ++k)
        if (e.to[static_cast<std::size_t>(k)] == to) return k;
    return -1;
}

// An edge that no triangle takes back: on the edge of the valid area, with
// the area on its left.
bool IsOutlineEdge(const HalfEdges& e, int32_t from, int64_t k) {
    return EdgeBetween(e, e.to[static_cast<std::size_t>(k)], from) < 0;
}

// ---- Corners where parts touch diagonally ----

// The kNudge* bits of a direction's signs.
uint8_t NudgeToward(int64_t dx, int64_t dy) {
    return static_cast<uint8_t>((dx > 0 ? kNudgeEast : dx < 0 ? kNudgeWest : 0) |
                                (dy > 0 ? kNudgeNorth : dy < 0 ? kNudgeSouth : 0));
}

// A vertex that two outline edges leave stands where two parts touch at a
// corner. Its triangles fall into fans, each from an outline edge leaving
// it, turning counter-clockwise to the outline edge coming in: each fan
// after the first gets a copy of the vertex, and every fan's vertex moves a
// little into its own cells (between its two outline edges). False when
// nothing needed it.
bool SplitTouchingCorners(SurfaceMesh& mesh, const HalfEdges& e) {
    std::vector<std::pair<int64_t, int32_t>> renumbered;  // a triangle corner and its vertex's copy
    std::vector<int64_t> fan;
    const std::size_t vertices = mesh.vertices.size();
    for (std::size_t vertex = 0; vertex < vertices; ++vertex) {
        const int32_t v = static_cast<int32_t>(vertex);
        int leaving = 0;
        for (int64_t k = e.first[vertex]; k < e.first[vertex + 1]; ++k) leaving += IsOutlineEdge(e, v, k);
        if (leaving < 2) continue;
        const LatticePoint at = SpotOf(mesh.vertices[vertex]);
        bool firstFan = true;
        for (int64_t k = e.first[vertex]; k < e.first[vertex + 1]; ++k) {
            if (!IsOutlineEdge(e, v, k)) continue;
            fan.clear();
            int64_t corner = e.corner[static_cast<std::size_t>(k)];
            int32_t back = v;
            for (int64_t turns = e.first[vertex + 1] - e.first[vertex]; turns > 0; --turns) {
                fan.push_back(corner);
                back = mesh.triangles[PreviousCorner(static_cast<std::size_t>(corner))];
                const int64_t next = EdgeBetween(e, v, back);
                if (next < 0) break;
                corner = e.corner[static_cast<std::size_t>(next)];
            }
            const LatticePoint out = SpotOf(mesh.vertices[static_cast<std::size_t>(e.to[static_cast<std::size_t>(k)])]);
            const LatticePoint in = SpotOf(mesh.vertices[static_cast<std::size_t>(back)]);
            const uint8_t nudge = NudgeToward((out.x - at.x) + (in.x - at.x), (out.y - at.y) + (in.y - at.y));
            if (firstFan) {
                mesh.vertices[vertex].nudge = nudge;
                firstFan = false;
                continue;
            }
            MeshVertex copy = mesh.vertices[vertex];
            copy.nudge = nudge;
            const int32_t number = static_cast<int32_t>(mesh.vertices.size());
            mesh.vertices.push_back(copy);
            for (const int64_t c : fan) renumbered.emplace_back(c, number);
        }
    }
    for (const auto& [corner, number] : renumbered) mesh.triangles[static_cast<std::size_t>(corner)] = number;
    return mesh.vertices.size() != vertices;
}

// ---- Walls and bottom ----

// The outline: each loop of outline edges as its vertices in order (the
// valid area on the left). False when a vertex is left by more outline
// edges than come in, or fewer.
struct Outline {
    std::vector<std::vector<int32_t>> loops;
};

bool TraceOutline(const SurfaceMesh& mesh, const HalfEdges& e, Outline& outline) {
    std::vector<int32_t> next(mesh.vertices.size(), -1);
    for (std::size_t vertex = 0; vertex < mesh.vertices.size(); ++vertex) {
        const int32_t v = static_cast<int32_t>(vertex);
        for (int64_t k = e.first[vertex]; k < e.first[vertex + 1]; ++k) {
            if (!IsOutlineEdge(e, v, k)) continue;
            if (next[vertex] >= 0) return false;
            next[vertex] = e.to[static_cast<std::size_t>(k)];
        }
    }
    std::vector<char> seen(mesh.vertices.size(), 0);
    for (std::size_t start = 0; start < next.size(); ++start) {
        if (next[start] < 0 || seen[start]) continue;
        std::vector<int32_t> loop;
        int32_t v = static_cast<int32_t>(start);
        do {
            seen[static_cast<std::size_t>(v)] = 1;
            loop.push_back(v);
            v = next[static_cast<std::size_t>(v)];
            if (v < 0) return false;
        } while (!seen[static_cast<std::size_t>(v)]);
        if (v != static_cast<int32_t>(start)) return false;
        outline.loops.push_back(std::move(loop));
    }
    return true;
}

// Whether the outline turns at loop vertex i.
bool TurnsAt(const SurfaceMesh& mesh, const std::vector<int32_t>& loop, std::size_t i) {
    const std::size_t n = loop.size();
    const LatticePoint a = SpotOf(mesh.vertices[static_cast<std::size_t>(loop[(i + n - 1) % n])]);
    const LatticePoint b = SpotOf(mesh.vertices[static_cast<std::size_t>(loop[i])]);
    const LatticePoint c = SpotOf(mesh.vertices[static_cast<std::size_t>(loop[(i + 1) % n])]);
    return (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x) != 0;
}

void PushTriangle(std::vector<int32_t>& triangles, int32_t a, int32_t b, int32_t c) {
    triangles.push_back(a);
    triangles.push_back(b);
    triangles.push_back(c);
}

// The wall below one straight run of the outline, from the turning vertex
// `top[0]` to the next, `top.back()`, whose copies on the bottom are `from`
// and `to`: a flat vertical polygon, filled without more vertices. The run's
// peaks are cut off first (a vertex above the line of its neighbours, with
// the triangle between), which leaves a chain that only bends upward; its
// falling part is fanned from `from`, its rising part from `to`, and one
// triangle joins the two at its lowest vertex. As many triangles as the run
// has edges, plus one; counter-clockwise seen from outside.
void AddWall(const SurfaceMesh& mesh, const std::vector<int32_t>& top, int32_t from, int32_t to,
             std::vector<int32_t>& chain, std::vector<int32_t>& triangles) {
    const LatticePoint start = SpotOf(mesh.vertices[static_cast<std::size_t>(top[0])]);
    // Distances along the run in cells: any scale of its own keeps the turns.
    const auto along = [&](int32_t v) {
        const LatticePoint p = SpotOf(mesh.vertices[static_cast<std::size_t>(v)]);
        return static_cast<double>(std::llabs(p.x - start.x) + std::llabs(p.y - start.y));
    };
    const auto height = [&](int32_t v) { return static_cast<double>(mesh.vertices[static_cast<std::size_t>(v)].z); };
    chain.clear();
    for (const int32_t v : top) {
        chain.push_back(v);
        while (chain.size() >= 3) {
            const int32_t a = chain[chain.size() - 3], b = chain[chain.size() - 2], c = chain.back();
            const double turn =
                (height(b) - height(a)) * (along(c) - along(a)) - (height(c) - height(a)) * (along(b) - along(a));
            if (!(turn > 0.0)) break;
            PushTriangle(triangles, a, c, b);
            chain.erase(chain.end() - 2);
        }
    }
    std::size_t lowest = 0;
    for (std::size_t j = 1; j < chain.size(); ++j)
        if (height(chain[j]) < height(chain[lowest])) lowest = j;
    for (std::size_t j = 0; j < lowest; ++j) PushTriangle(triangles, from, chain[j + 1], chain[j]);
    for (std::size_t j = lowest; j + 1 < chain.size(); ++j) PushTriangle(triangles, to, chain[j + 1], chain[j]);
    PushTriangle(triangles, from, to, chain[lowest]);
}

// Whether a loop of lattice points turns counter-clockwise: an outer loop.
bool IsOuterLoop(const std::vector<LatticePoint>& loop) {
    __int128 area = 0;
    for (std::size_t i = 0; i < loop.size(); ++i) {
        const LatticePoint& a = loop[i];
        const LatticePoint& b = loop[(i + 1) % loop.size()];
        area += static_cast<__int128>(a.x) * b.y - static_cast<__int128>(a.y) * b.x;
    }
    return area > 0;
}

// A vertex's position in output units, as the formats place it.
void PositionOf(const MeshGeometry& g, const MeshVertex& v, double p[3]) {
    p[0] = ColumnX(g, v.column, (v.edges & kEastEdge) != 0) + NudgeX(g, v);
    p[1] = RowY(g, v.row, (v.edges & kSouthEdge) != 0) + NudgeY(g, v);
    p[2] = static_cast<double>(v.z);
}

// The solid's extent and volume (from its triangles, each a cone from its
// first vertex).
void MeasureSolid(const MeshGeometry& g, const SurfaceMesh& mesh, SolidFacts& facts) {
    double low[3], high[3], origin[3];
    PositionOf(g, mesh.vertices[0], origin);
    for (int k = 0; k < 3; ++k) low[k] = high[k] = origin[k];
    for (const MeshVertex& v : mesh.vertices) {
        double p[3];
        PositionOf(g, v, p);
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
        }
    }
    for (int k = 0; k < 3; ++k) facts.size[k] = high[k] - low[k];
    double volume = 0.0;
    for (std::size_t t = 0; t < mesh.triangles.size(); t += 3) {
        double p[3][3];
        for (int c = 0; c < 3; ++c) {
            PositionOf(g, mesh.vertices[static_cast<std::size_t>(mesh.triangles[t + static_cast<std::size_t>(c)])], p[c]);
            for (int k = 0; k < 3; ++k) p[c][k] -= origin[k];
        }
        volume += p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) - p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0]) +
                  p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
    }
    facts.volume = volume / 6.0;
}

// ---- Handing over ----

constexpr int64_t kRecordsPerItem = 16384;

struct HandOverWork {
    MeshPass* pass;
    const SurfaceMesh* mesh;
    int64_t total;
    int64_t next = 0;
};

bool TakeSurfaceRun(void* context, WorkItem& item) {
    HandOverWork& w = *static_cast<HandOverWork*>(context);
    return TakeRun(w.next, w.total, kRecordsPerItem, item);
}

void WriteVertexRun(void* context, const WorkItem& item, PipelineSink& sink) {
    const HandOverWork& w = *static_cast<HandOverWork*>(context);
    WriteKeptVertices(*w.pass->writer, w.mesh->vertices.data(), item, sink);
}

void WriteTriangleRun(void* context, const WorkItem& item, PipelineSink& sink) {
    const HandOverWork& w = *static_cast<HandOverWork*>(context);
    FaceBatch batch(*w.pass->writer, sink, 3);
    const int32_t* n = w.mesh->triangles.data() + 3 * item.firstNumber;
    for (int64_t t = 0; t < item.count; ++t, n += 3)
        if (!AddTriangle(batch, n[0], n[1], n[2])) return;
    if (FlushFaces(batch)) sink.counts.triangles += item.count;
}

}  // namespace

std::unique_ptr<MeshWriter> MakeSurfaceCollector() { return std::make_unique<SurfaceCollector>(); }

void KeepSurfaceBytes(void* context, OutputFile&, const char* bytes, std::size_t size) {
    SurfaceKeeper& keeper = *static_cast<SurfaceKeeper*>(context);
    if (keeper.pass.outOfMemory) return;
    try {
        if (keeper.faces) AppendRecords(keeper.mesh.triangles, keeper.part, bytes, size);
        else AppendRecords(keeper.mesh.vertices, keeper.part, bytes, size);
        const int64_t bytesNow = static_cast<int64_t>(keeper.mesh.vertices.capacity() * sizeof(MeshVertex) +
                                                      keeper.mesh.triangles.capacity() * sizeof(int32_t));
        keeper.pass.memory.Note(bytesNow - keeper.noted);
        keeper.noted = bytesNow;
        if (keeper.mesh.vertices.size() > kMostSurfaceVertices || bytesNow > keeper.room)
            keeper.pass.outOfMemory = true;
    } catch (const std::bad_alloc&) {
        keeper.pass.outOfMemory = true;  // by the writer role; read by the job's thread after the pass
    }
}

bool CloseSurface(const MeshGeometry& g, double base, SurfaceMesh& mesh, SolidFacts& facts) {
    facts = SolidFacts{};
    if (mesh.vertices.empty()) return true;
    for (const int32_t v : mesh.triangles)
        if (v < 0 || static_cast<std::size_t>(v) >= mesh.vertices.size()) return false;
    if (mesh.triangles.size() / 3 > kMostSurfaceVertices) return false;
    Outline outline;
    {
        HalfEdges e = HalfEdgesOf(mesh.vertices.size(), mesh.triangles);
        if (SplitTouchingCorners(mesh, e)) e = HalfEdgesOf(mesh.vertices.size(), mesh.triangles);
        if (!TraceOutline(mesh, e, outline)) return false;
    }

    float lowest = mesh.vertices[0].z;
    for (const MeshVertex& v : mesh.vertices) lowest = std::min(lowest, v.z);
    const float bottom = static_cast<float>(static_cast<double>(lowest) - base);

    // The bottom's vertices below the outline's turns, the walls, and the
    // bottom's loops of the same turns.
    std::vector<std::vector<LatticePoint>> bottomLoops;
    std::vector<int32_t> bottomVertices;  // in the order of the loops' points
    std::vector<int32_t> top, chain, walls;
    for (const std::vector<int32_t>& loop : outline.loops) {
        std::vector<std::size_t> turns;
        for (std::size_t i = 0; i < loop.size(); ++i)
            if (TurnsAt(mesh, loop, i)) turns.push_back(i);
        if (turns.size() < 3) return false;
        const int32_t firstBottom = static_cast<int32_t>(mesh.vertices.size());
        std::vector<LatticePoint> points;
        for (const std::size_t i : turns) {
            MeshVertex below = mesh.vertices[static_cast<std::size_t>(loop[i])];
            below.z = bottom;
            below.normal[0] = below.normal[1] = 0.0f;
            below.normal[2] = -1.0f;
            bottomVertices.push_back(static_cast<int32_t>(mesh.vertices.size()));
            mesh.vertices.push_back(below);
            points.push_back(FineSpotOf(below));
        }
        for (std::size_t r = 0; r < turns.size(); ++r) {
            const std::size_t from = turns[r], to = turns[(r + 1) % turns.size()];
            top.clear();
            for (std::size_t i = from;; i = (i + 1) % loop.size()) {
                top.push_back(loop[i]);
                if (i == to) break;
            }
            AddWall(mesh, top, firstBottom + static_cast<int32_t>(r),
                    firstBottom + static_cast<int32_t>((r + 1) % turns.size()), chain, walls);
        }
        if (IsOuterLoop(points)) ++facts.parts;
        bottomLoops.push_back(std::move(points));
    }
    std::vector<int32_t> fill;
    if (!FillFlatPolygons(bottomLoops, fill)) return false;
    mesh.triangles.insert(mesh.triangles.end(), walls.begin(), walls.end());
    // The bottom faces down: each of the fill's triangles turned over.
    for (std::size_t t = 0; t < fill.size(); t += 3)
        PushTriangle(mesh.triangles, bottomVertices[static_cast<std::size_t>(fill[t])],
                    bottomVertices[static_cast<std::size_t>(fill[t + 2])],
                    bottomVertices[static_cast<std::size_t>(fill[t + 1])]);
    MeasureSolid(g, mesh, facts);
    return true;
}

bool HandOverSurfaceVertices(MeshPass& pass, const SurfaceMesh& mesh) {
    HandOverWork w{&pass, &mesh, static_cast<int64_t>(mesh.vertices.size())};
    return RunQuietPass(pass, {&w, TakeSurfaceRun, WriteVertexRun}) == PipelineEnd::Completed;
}

bool HandOverSurfaceTriangles(MeshPass& pass, const SurfaceMesh& mesh) {
    const int64_t triangles = static_cast<int64_t>(mesh.triangles.size() / 3);
    HandOverWork w{&pass, &mesh, triangles};
    // The bar stands full from the method's face pass: it only ever moves on.
    return RunQuietPass(pass, {&w, TakeSurfaceRun, WriteTriangleRun}) == PipelineEnd::Completed;
}
