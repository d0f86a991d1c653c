// What the mesh methods share inside a job: the job's record of its passes
// and the methods' entry points.
#pragma once

#include "grid/grid_pass.h"
#include "mesh/conversion_job.h"
#include "mesh/mesh_geometry.h"

// A mesh job's record: the grid passes' record, the request and the
// geometry the methods write.
struct MeshPass : GridPass {
    MeshPass(GridStream& gridInput, OutputFile& output, const JobRequest& jobRequest)
        : GridPass(gridInput, output, jobRequest.header, jobRequest.region, jobRequest.workers),
          request(jobRequest) {}

    // Set before the passes, then only read.
    const JobRequest& request;
    MeshGeometry geometry;
};

// A mesh method: the file name's suffix and the two passes. Each pass sets
// up its work and runs it with RunRowPass or RunFacePass; the job writes the
// header, the count comments and names, commits and sums up.
struct MeshMethodPasses {
    const wchar_t* fileSuffix;
    void (*vertexPass)(MeshPass& pass);
    void (*facePass)(MeshPass& pass);
};
extern const MeshMethodPasses kInterpolatedPasses;
extern const MeshMethodPasses kFloatingPlanesPasses;
