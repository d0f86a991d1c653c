// Where a mesh's vertices stand: the job's request turned into the geometry
// (format/mesh_format.h) that the methods hand to the formats. The classic
// geometry is the default; True scale (true_geometry.cpp) measures metres
// from the region's south-west corner, turns degrees and feet into metres,
// and chooses as few decimals as keep each position within 1/1000 of the
// cell spacing and each height within 1 mm.
#pragma once

#include <string>
#include <vector>

#include "format/mesh_format.h"

struct JobRequest;

// The geometry of a job's request.
MeshGeometry MakeMeshGeometry(const JobRequest& request);
void MakeTrueScaleGeometry(const JobRequest& request, MeshGeometry& g);

// Whether the classic geometry misplaces the region's vertices: neighbouring
// columns or rows that print as one position, or columns or rows that its
// single-precision arithmetic moves by more than a tenth of a cell.
bool ClassicMisplacesVertices(const JobRequest& request);

// What a True scale file says of its geometry, a line each: the units, the
// axes and where the origin lies. None for the classic geometry.
std::vector<std::string> GeometryNotes(const MeshGeometry& g, float unitMeters);
