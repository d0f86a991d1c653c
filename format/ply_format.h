// PLY, binary little endian, for mesh and point-cloud tools.
#pragma once

#include "format/mesh_format.h"

extern const MeshFormat kPlyFormat;
