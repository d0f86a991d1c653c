// glTF 2.0 binary, for game engines, web viewers and 3D applications.
#pragma once

#include "format/mesh_format.h"

extern const MeshFormat kGlbFormat;
