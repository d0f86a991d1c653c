// STL, binary, for slicers.
#pragma once

#include "format/mesh_format.h"

extern const MeshFormat kStlFormat;
