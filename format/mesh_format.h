// The seam between the mesh methods and the file formats. A method works out
// where its vertices stand and which faces join them; a format turns them
// into a file's bytes. Neither knows the other: the conversion job picks one
// of each and hands the method the format's writer.
//
// A method hands over its vertices and faces in batches, from the pipeline's
// workers, each into the worker's own sink; the writer only reads its own
// tables there. The job's thread writes what a file holds before, between
// and after them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "grid/ground_units.h"
#include "grid/grid_types.h"
#include "job/job_counts.h"
#include "job/job_pipeline.h"
#include "job/output_file.h"

// Where a mesh's vertices stand, as the job's geometry set it up (see
// mesh/mesh_geometry.h). Two geometries:
// - Classic: positions count cells from the grid's origin (xllcorner and
//   yllcorner taken as cell counts) times the cell size (dx, dy) over the
//   units, partly summed in single precision; heights are multiplied by the
//   cell size over the units too; x east, y north, z up. Files and users
//   rely on these positions: they never change.
// - True scale: metres from the region's south-west corner over the units,
//   in double precision; heights over the units alone; z up, or y up (x east,
//   y up, z south) for 3D applications.
struct MeshGeometry {
    bool trueScale = false;
    bool yUp = false;  // only with trueScale
    const GridHeader* header = nullptr;
    float scale = 0.0f;        // classic: cellsize (dx) / unitMeters
    float scaleY = 0.0f;       // classic: the cell height (dy) / unitMeters
    float heightScale = 0.0f;  // a vertex's height is the value * heightScale

    // True scale.
    double stepX = 0.0, stepY = 0.0;  // output units per column and per row
    int64_t westColumn = 0;           // the grid column whose west edge is x 0
    int64_t southRow = 0;             // the grid row whose south edge is y 0
    // Decimals that keep a position within 1/1000 of the cell spacing and a
    // height within 1 mm, for formats that write text.
    int positionDecimals = 2;
    int heightDecimals = 2;
    GroundUnits ground;
    double latitude = 0.0;  // degrees: where they were turned into metres
    double originX = 0.0;   // x 0 and y 0 in the grid's own coordinates
    double originY = 0.0;
    // Where the region's south-west corner lies from the origin, in cells:
    // 0 but where the origin is another (a tile set's, one given); whole
    // numbers where the origin lies on the grid's lattice.
    double columnShift = 0.0, rowShift = 0.0;
    double regionX = 0.0, regionY = 0.0;  // the region's south-west corner in the grid's coordinates
    uint8_t originKind = 0;               // TrueScaleOrigin::Kind: what the origin is
    double unitsPerMetre = 1.0;  // output units a ground metre makes
    bool fitted = false;         // the region's longer side fitted to a size asked for
    double exaggerate = 1.0;     // heights multiplied by it

    // The methods work out each vertex's normal (MeshVertex::normal) only
    // when the format writes them.
    bool normals = false;
};

// Classic: the west edge of grid column j, (j + xllcorner) in single
// precision, the rest in double precision, rounded to float.
inline float WestEdge(int64_t column, const GridHeader& header, float scale) {
    const float sum = static_cast<float>(column) + header.xllcorner;
    return static_cast<float>((static_cast<double>(sum) - 1.0) * static_cast<double>(scale));
}

// Classic: the north edge of grid row L, (1 - L + nrows + yllcorner) left to
// right in double precision from single-precision terms, rounded to float.
// `scale` is the y scale: yllcorner counts in cell heights like the rows.
inline float NorthEdge(int64_t row, const GridHeader& header, float scale) {
    const double sum = (1.0 - static_cast<double>(static_cast<float>(row))) +
                       static_cast<double>(static_cast<float>(header.nrows)) +
                       static_cast<double>(header.yllcorner);
    return static_cast<float>(sum * static_cast<double>(scale));
}

// Classic: the lower edge is the negated difference, so an upper edge equal
// to scale gives negative zero (written -0.00). A cell's east edge is its
// west edge plus the scale, in single precision: not always the next
// column's west edge, and that is how the files have it.
inline float SouthEdge(float northEdge, float scale) { return -(scale - northEdge); }

// The x of grid column `column`'s west (or east) edge and the y of grid row
// `row`'s north (or south) edge, in output units (classic: exactly the float
// the geometry computes).
inline double ColumnX(const MeshGeometry& g, int64_t column, bool eastEdge) {
    if (g.trueScale) return (static_cast<double>(column + (eastEdge ? 1 : 0) - g.westColumn) + g.columnShift) * g.stepX;
    const float west = WestEdge(column, *g.header, g.scale);
    return eastEdge ? west + g.scale : west;
}
inline double RowY(const MeshGeometry& g, int64_t row, bool southEdge) {
    if (g.trueScale) return (static_cast<double>(g.southRow - row - (southEdge ? 1 : 0) + 1) + g.rowShift) * g.stepY;
    const float north = NorthEdge(row, *g.header, g.scaleY);
    return southEdge ? SouthEdge(north, g.scaleY) : north;
}


// The unit vector along n (x, y, z); straight up when n has no length.
inline void SetUnitNormal(const double n[3], float out[3]) {
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int k = 0; k < 3; ++k) out[k] = length > 0.0 ? static_cast<float>(n[k] / length) : (k == 2 ? 1.0f : 0.0f);
}

// A vertex as a method hands it over: on the west or east edge of a grid
// column, the north or south edge of a grid row, at height z (the value
// times heightScale). Vertices are numbered from 0 in the order handed over.
// One record with kCellCorners stands for the four corners of its cell, all
// at z, in the order north-west, north-east, south-east, south-west: a flat
// cell, written as four vertices. With normals asked for, `normal` is the
// vertex's unit normal of the surface (x east, y north, z up, in the
// geometry's own axes; a format turns it as it turns the positions).
//
// A solid's corner where two of its parts touch only diagonally stands as
// one vertex for each part, each moved a little into its own part's cell
// (`nudge`: kNudge* bits, by kNudgeFraction of the cell spacing), so that
// the parts share no position and each stays closed on its own.
constexpr uint8_t kEastEdge = 1;
constexpr uint8_t kSouthEdge = 2;
constexpr uint8_t kCellCorners = 4;
constexpr uint8_t kNudgeEast = 1;
constexpr uint8_t kNudgeWest = 2;
constexpr uint8_t kNudgeNorth = 4;
constexpr uint8_t kNudgeSouth = 8;
// A 256th of a cell: far below what prints or shows, and still four float32
// steps 16,384 cells from the origin.
constexpr double kNudgeFraction = 1.0 / 256.0;
struct MeshVertex {
    int64_t column;
    int64_t row;
    float z;
    uint8_t edges;
    float normal[3];
    uint8_t nudge = 0;
};

// Calls corner(eastEdge, southEdge) for each vertex the record stands for:
// once, or for a cell's four corners in their order.
template <typename Corner>
inline void ForEachVertexOf(const MeshVertex& v, Corner corner) {
    if (v.edges & kCellCorners) {
        corner(false, false);
        corner(true, false);
        corner(true, true);
        corner(false, true);
    } else {
        corner((v.edges & kEastEdge) != 0, (v.edges & kSouthEdge) != 0);
    }
}

// The distance between two columns' and two rows' edges, in output units.
inline double ColumnStep(const MeshGeometry& g) { return g.trueScale ? g.stepX : g.scale; }
inline double RowStep(const MeshGeometry& g) { return g.trueScale ? g.stepY : g.scaleY; }

// How far a vertex is moved east and north (see MeshVertex::nudge).
inline double NudgeX(const MeshGeometry& g, const MeshVertex& v) {
    if (v.nudge == 0) return 0.0;
    return ((v.nudge & kNudgeEast) ? 1.0 : (v.nudge & kNudgeWest) ? -1.0 : 0.0) * kNudgeFraction * ColumnStep(g);
}
inline double NudgeY(const MeshGeometry& g, const MeshVertex& v) {
    if (v.nudge == 0) return 0.0;
    return ((v.nudge & kNudgeNorth) ? 1.0 : (v.nudge & kNudgeSouth) ? -1.0 : 0.0) * kNudgeFraction * RowStep(g);
}

// The binary formats' position of a True scale vertex as three float32:
// x east, y north, z up; or, with y up, x east, y up, z south.
inline void FloatPosition(const MeshGeometry& g, const MeshVertex& v, bool eastEdge, bool southEdge, bool yUp,
                          float out[3]) {
    const float y = static_cast<float>(RowY(g, v.row, southEdge) + NudgeY(g, v));
    out[0] = static_cast<float>(ColumnX(g, v.column, eastEdge) + NudgeX(g, v));
    out[1] = yUp ? v.z : y;
    out[2] = yUp ? -y : v.z;
}
// A normal turned the same way.
inline void FloatNormal(const MeshVertex& v, bool yUp, float out[3]) {
    out[0] = v.normal[0];
    out[1] = yUp ? v.normal[2] : v.normal[1];
    out[2] = yUp ? -v.normal[1] : v.normal[2];
}

enum class FaceKind : uint8_t { Quads, Triangles };

// The texture a mesh is draped with: where each vertex lands on the image,
// u from its west edge and v from its top edge, both 0 to 1 across it,
// linear in the vertex's column and row edges (u = u0 + du * edge; edge 0 is
// the grid's first column's west edge, or its first row's north edge); and
// the image as the file names it.
struct MeshTexture {
    bool on = false;
    double u0 = 0.0, du = 0.0, v0 = 0.0, dv = 0.0;
    std::string reference;        // the image's path from the mesh's folder (forward slashes, UTF-8)
    std::filesystem::path image;  // the image itself, for a format that embeds it
    std::string mimeType;         // "image/png" or "image/jpeg"
    int64_t imageBytes = 0;
};

// A vertex's texture coordinates: u, and v from the image's top (glTF's
// way) or, `fromBottom`, from its bottom edge (OBJ's and PLY's).
inline void TextureCoordinates(const MeshTexture& t, const MeshVertex& v, bool eastEdge, bool southEdge,
                               bool fromBottom, float uv[2]) {
    const double columnEdge = static_cast<double>(v.column - 1 + (eastEdge ? 1 : 0));
    const double rowEdge = static_cast<double>(v.row - 1 + (southEdge ? 1 : 0));
    const double fromTop = t.v0 + t.dv * rowEdge;
    uv[0] = static_cast<float>(t.u0 + t.du * columnEdge);
    uv[1] = static_cast<float>(fromBottom ? 1.0 - fromTop : fromTop);
}

// What a mesh file holds besides its vertices and faces.
struct MeshFileInfo {
    std::string timestamp;  // "YYYY-MM-DD, HH:MM"; empty: local time now
    std::vector<std::string> notes;  // what the geometry says of itself, a line each; none in the classic one
    std::string name;       // the mesh's name (narrow text)
    std::string projection; // the grid's coordinate system, a ".prj" file's text; empty: none
    MeshTexture texture;
    std::string materialLibrary;  // OBJ with a texture: the ".mtl" file's name beside it
    FaceKind faces = FaceKind::Quads;
    // The region's columns: a format may keep tables of what they share.
    int64_t westColumn = 1;
    int64_t columns = 0;
};

// A format's writer for one file. The job's thread makes it and calls the
// Write*Part calls between the passes; during a pass every worker calls
// WriteVertices and WriteFaces at once, each with its own sink, so those only
// read the writer's tables.
class MeshWriter {
public:
    virtual ~MeshWriter() = default;
    // Before the first vertex; between the last vertex and the first face;
    // after the last face, with what the file holds.
    virtual void WriteStartPart(OutputFile& out) = 0;
    virtual void WriteMiddlePart(OutputFile& out, const JobCounts& counts) = 0;
    virtual void WriteEndPart(OutputFile& out, const JobCounts& counts) = 0;
    // The next `count` vertices. False when the job stops.
    virtual bool WriteVertices(PipelineSink& sink, const MeshVertex* vertices, std::size_t count) const = 0;
    // `count` faces of `corners` (3 or 4) vertex numbers each, counter-clockwise
    // seen from above. False when the job stops.
    virtual bool WriteFaces(PipelineSink& sink, const int64_t* numbers, std::size_t count, int corners) const = 0;
    // The bytes of the writer's tables, for the job's memory.
    virtual int64_t TableBytes() const = 0;
    // A writer that needs the vertices again with the faces (a format that
    // puts each face's corners in place) keeps the vertex pass's bytes
    // itself: they come to KeepVertexBytes in order, from whichever worker
    // writes in its turn, instead of going to the file.
    virtual bool KeepsVertexBytes() const { return false; }
    virtual void KeepVertexBytes(const char* /*bytes*/, std::size_t /*size*/) {}
};

// A format as the job knows it: its file name's extension, its writer, and
// whether a file of `size` bytes is one the writer finished (not cut short,
// not another program's), for --skip-existing.
struct MeshFormat {
    const wchar_t* extension;  // ".obj"
    // `memory`: the job's, where a writer notes the tables it grows.
    std::unique_ptr<MeshWriter> (*makeWriter)(const MeshGeometry& geometry, const MeshFileInfo& info, JobMemory& memory);
    bool (*standsComplete)(std::FILE* file, int64_t size);
    // Whether a file can hold a mesh of so many vertices and triangles (a
    // quad is two) and an image of `embeddedBytes` embedded in it, and the
    // most it holds, as the refusal says it.
    bool (*holds)(int64_t vertices, int64_t triangles, int64_t embeddedBytes);
    const char* limitText;
};

// The binary formats' loops over a batch, reserving sink room many records
// at a time and ending segments where they fill. PutEachVertex calls
// put(p, vertex, eastEdge, southEdge) for each vertex a record stands for,
// `cornerBytes` at most each; PutEachFace put(p, numbers) for each face of
// `corners` numbers, `faceBytes` each. Both return the end of what they
// wrote. False when the job stops.
template <typename Put>
inline bool PutEachVertex(PipelineSink& sink, const MeshVertex* vertices, std::size_t count, std::size_t cornerBytes,
                          Put put) {
    for (std::size_t i = 0; i < count;) {
        char* p = ReserveSinkBytes(sink, kMaxReserveBytes);
        if (p == nullptr) return false;
        const char* const last = p + kMaxReserveBytes - 4 * cornerBytes;  // room for one more record
        for (; i < count && p <= last; ++i) {
            const MeshVertex& v = vertices[i];
            ForEachVertexOf(v, [&](bool east, bool south) { p = put(p, v, east, south); });
        }
        CommitSinkBytes(sink, p);
        if (SegmentIsFull(sink)) EndSinkSegment(sink);
    }
    return true;
}
template <typename Put>
inline bool PutEachFace(PipelineSink& sink, const int64_t* numbers, std::size_t count, int corners,
                        std::size_t faceBytes, Put put) {
    for (std::size_t i = 0; i < count;) {
        const std::size_t end = count - i < kMaxReserveBytes / faceBytes ? count : i + kMaxReserveBytes / faceBytes;
        char* p = ReserveSinkBytes(sink, (end - i) * faceBytes);
        if (p == nullptr) return false;
        for (; i < end; ++i, numbers += corners) p = put(p, numbers);
        CommitSinkBytes(sink, p);
        if (SegmentIsFull(sink)) EndSinkSegment(sink);
    }
    return true;
}

// A method's batch of vertices on their way to the writer: gathered here,
// handed over when full and wherever the method's segments end (the end of a
// row), so that the bytes come before the segment's end.
constexpr std::size_t kBatchVertices = 1024;
struct VertexBatch {
    VertexBatch(const MeshWriter& meshWriter, PipelineSink& workerSink) : writer(meshWriter), sink(workerSink) {}
    const MeshWriter& writer;
    PipelineSink& sink;
    std::size_t size = 0;
    MeshVertex vertices[kBatchVertices];
};
// Hands the batch over; false when the job stops.
inline bool FlushVertices(VertexBatch& batch) {
    const std::size_t size = batch.size;
    batch.size = 0;
    return size == 0 || batch.writer.WriteVertices(batch.sink, batch.vertices, size);
}
// A pass's item of vertices a method kept: from `vertices`, the item's run,
// handed to the writer and counted.
inline void WriteKeptVertices(const MeshWriter& writer, const MeshVertex* vertices, const WorkItem& item,
                              PipelineSink& sink) {
    if (writer.WriteVertices(sink, vertices + item.firstNumber, static_cast<std::size_t>(item.count)))
        sink.counts.vertices += item.count;
}

// A vertex with its normal; the one below stands straight up.
inline bool AddVertex(VertexBatch& batch, const MeshVertex& vertex) {
    batch.vertices[batch.size++] = vertex;
    return batch.size < kBatchVertices || FlushVertices(batch);
}
inline bool AddVertex(VertexBatch& batch, int64_t column, int64_t row, uint8_t edges, float z) {
    return AddVertex(batch, MeshVertex{column, row, z, edges, {0.0f, 0.0f, 1.0f}});
}
inline bool AddCellCorners(VertexBatch& batch, int64_t column, int64_t row, float z) {
    return AddVertex(batch, column, row, kCellCorners, z);
}

// The same for faces of `corners` vertex numbers each.
constexpr std::size_t kBatchFaces = 1024;
struct FaceBatch {
    FaceBatch(const MeshWriter& meshWriter, PipelineSink& workerSink, int faceCorners)
        : writer(meshWriter), sink(workerSink), corners(faceCorners) {}
    const MeshWriter& writer;
    PipelineSink& sink;
    const int corners;
    std::size_t size = 0;  // faces
    int64_t numbers[4 * kBatchFaces];
};
inline bool FlushFaces(FaceBatch& batch) {
    const std::size_t size = batch.size;
    batch.size = 0;
    return size == 0 || batch.writer.WriteFaces(batch.sink, batch.numbers, size, batch.corners);
}
inline bool AddQuad(FaceBatch& batch, int64_t a, int64_t b, int64_t c, int64_t d) {
    int64_t* n = batch.numbers + 4 * batch.size++;
    n[0] = a;
    n[1] = b;
    n[2] = c;
    n[3] = d;
    return batch.size < kBatchFaces || FlushFaces(batch);
}
inline bool AddTriangle(FaceBatch& batch, int64_t a, int64_t b, int64_t c) {
    int64_t* n = batch.numbers + 3 * batch.size++;
    n[0] = a;
    n[1] = b;
    n[2] = c;
    return batch.size < kBatchFaces || FlushFaces(batch);
}

// A texture a mesh can be draped with.
enum class TextureChoice : uint8_t { None, Relief, Image };

// The formats a user can choose, and their names on the command line and in
// the summary ("obj", "glb", "ply", "stl").
enum class MeshFormatKind : uint8_t { Obj, Glb, Ply, Stl };
constexpr const char* kMeshFormatNames[] = {"obj", "glb", "ply", "stl"};
inline const char* MeshFormatName(MeshFormatKind kind) { return kMeshFormatNames[static_cast<std::size_t>(kind)]; }
// False for a name that is none of them.
inline bool MeshFormatNamed(const std::string& name, MeshFormatKind& kind) {
    for (std::size_t i = 0; i < sizeof kMeshFormatNames / sizeof kMeshFormatNames[0]; ++i) {
        if (name == kMeshFormatNames[i]) return kind = static_cast<MeshFormatKind>(i), true;
    }
    return false;
}
// The formats whose numbers are binary floats: they take True scale
// positions only (the classic geometry's are the OBJ text's).
inline bool IsBinaryFormat(MeshFormatKind kind) { return kind != MeshFormatKind::Obj; }
// The up axis a format has by its own definition: glTF's y, and STL's z, as
// slicers read it. False for a format that takes either.
inline bool FormatsOwnUpAxis(MeshFormatKind kind, UpAxis& up) {
    if (kind != MeshFormatKind::Glb && kind != MeshFormatKind::Stl) return false;
    up = kind == MeshFormatKind::Glb ? YUp : ZUp;
    return true;
}
// Whether a file of the format can be draped with a texture: an STL holds
// nothing beyond its facets.
inline bool FormatHoldsTexture(MeshFormatKind kind) { return kind != MeshFormatKind::Stl; }
// Whether a file of the format holds vertex normals: a GLB always, an OBJ or
// a PLY when asked; an STL holds its facets' own, worked out from the
// positions it holds.
inline bool FormatWritesNormals(MeshFormatKind kind, bool asked) {
    return kind == MeshFormatKind::Glb || (asked && kind != MeshFormatKind::Stl);
}
