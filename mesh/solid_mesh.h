// A solid for 3D printing: the surface a method makes, kept in memory, then
// closed with vertical walls along every edge of its valid area (the outer
// edge and every hole's) and a flat bottom, and handed to the format's
// writer as one closed, outward-facing mesh of triangles.
#pragma once

#include <cstdint>
#include <vector>

#include "format/mesh_format.h"
#include "mesh/mesh_passes.h"

// A mesh as numbers: its vertices in order and its faces as triangles (a
// quad as two, split as the STL writer splits it).
struct SurfaceMesh {
    std::vector<MeshVertex> vertices;
    std::vector<int32_t> triangles;  // three vertex numbers each, counter-clockwise from outside
};

// What the summary says of a solid.
struct SolidFacts {
    double size[3] = {0.0, 0.0, 0.0};  // along x, y and z, in output units
    double volume = 0.0;               // cubic output units
    int64_t parts = 0;                 // closed pieces
};

// Keeps what a method hands over. Made by the job's thread; during a pass
// the workers write records into their sinks and the writer role hands the
// ordered bytes to KeepSurfaceBytes (the pass's frameOutput), which appends
// them to `mesh`: vertices in the vertex pass, triangles in the face pass.
struct SurfaceKeeper {
    // The solid's own tables take about as much again as the kept mesh:
    // a third of the machine's memory is its room.
    SurfaceKeeper(SurfaceMesh& kept, MeshPass& meshPass)
        : mesh(kept), pass(meshPass), room(PhysicalMemoryBytes() / 3) {}
    SurfaceMesh& mesh;
    MeshPass& pass;
    const int64_t room;
    bool faces = false;      // set by the job's thread between the passes
    std::vector<char> part;  // a record's bytes that came before the rest of it
    int64_t noted = 0;       // bytes noted in the job's memory
};
std::unique_ptr<MeshWriter> MakeSurfaceCollector();
void KeepSurfaceBytes(void* keeper, OutputFile& out, const char* bytes, std::size_t size);

// Closes `mesh` (a surface whose faces are counter-clockwise from above and
// whose vertices stand on grid corners) into a solid whose bottom lies
// `base` output units below its lowest vertex. Corners where parts touch
// only diagonally are split first. False when the surface is not such a
// one (the mesh is then no solid, and not to be written).
bool CloseSurface(const MeshGeometry& g, double base, SurfaceMesh& mesh, SolidFacts& facts);

// Hands the mesh's vertices (or its triangles) to the pass's writer on the
// workers, counted in the pass's counts. False when the job stops.
bool HandOverSurfaceVertices(MeshPass& pass, const SurfaceMesh& mesh);
bool HandOverSurfaceTriangles(MeshPass& pass, const SurfaceMesh& mesh);
