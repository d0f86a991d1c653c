// Wavefront OBJ text: a header comment block, "v x y z" lines, a vertex count
// comment with the object and group names, "f a b c d" lines (or three
// numbers) and a face count comment. Every line end is written as CR LF
// explicitly, so the bytes are the same on every platform.
//
// The text is put together from pieces formatted once: each column's "v x "
// (for the region's first kMaxCachedColumns columns), each row's y texts (once
// per row) and the faces' vertex numbers counted up as decimal text.
#pragma once

#include "format/mesh_format.h"

extern const MeshFormat kObjFormat;

// The material library an OBJ with a texture names ("mtllib"): its one
// material, whose diffuse map is the image at texture.reference.
std::string MaterialLibraryText(const MeshTexture& texture);
