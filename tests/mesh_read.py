"""Reads the mesh files dunmoor-convert writes, for the witness checks, with
nothing but the standard library: each reader returns (positions, faces,
normals), faces as lists of 0-based indices into positions (an STL's three
corners of each facet are positions of their own), normals None where the
file has none.

Run by Blender (blender -b --python mesh_read.py -- FILE...), it imports each
file with Blender's own importer and prints one line per file:
"FILE: V vertices, P polygons".
"""
import json
import struct


def read_obj(path):
    positions, normals, faces = [], [], []
    for line in open(path):
        word, *rest = line.split() or [""]
        if word == "v":
            positions.append(tuple(map(float, rest)))
        elif word == "vn":
            normals.append(tuple(map(float, rest)))
        elif word == "f":
            corners = [c.split("/") for c in rest]
            # With normals every corner is v//vn, and a vertex has a normal of its own.
            if normals and not all(len(c) == 3 and c[1] == "" and c[2] == c[0] for c in corners):
                raise ValueError("%s: face %s not v//vn" % (path, line.strip()))
            faces.append([int(c[0]) - 1 for c in corners])
    if normals and len(normals) != len(positions):
        raise ValueError("%s: %d normals for %d vertices" % (path, len(normals), len(positions)))
    return positions, faces, normals or None


PLY_TYPES = {"char": "b", "uchar": "B", "short": "h", "ushort": "H", "int": "i", "uint": "I",
             "float": "f", "double": "d", "int8": "b", "uint8": "B", "int32": "i", "uint32": "I", "float32": "f"}


def read_ply(path):
    data = open(path, "rb").read()
    head, body = data.split(b"end_header\n", 1)
    lines = head.decode("ascii").splitlines()
    if lines[:2] != ["ply", "format binary_little_endian 1.0"]:
        raise ValueError("%s: not a binary little-endian PLY" % path)
    elements = []  # [name, count, [(property, type, list count type or None)]]
    for line in lines:
        w = line.split()
        if w[0] == "element":
            elements.append([w[1], int(w[2]), []])
        elif w[0] == "property":
            elements[-1][2].append((w[-1], PLY_TYPES[w[-2]], PLY_TYPES[w[2]] if w[1] == "list" else None))
    at, rows = 0, {}
    for name, count, props in elements:
        rows[name] = []
        for _ in range(count):
            row = {}
            for prop, kind, list_kind in props:
                if list_kind:
                    (n,) = struct.unpack_from("<" + list_kind, body, at)
                    at += struct.calcsize(list_kind)
                    row[prop] = list(struct.unpack_from("<%d%s" % (n, kind), body, at))
                    at += n * struct.calcsize(kind)
                else:
                    (row[prop],) = struct.unpack_from("<" + kind, body, at)
                    at += struct.calcsize(kind)
            rows[name].append(row)
    if at != len(body):
        raise ValueError("%s: %d bytes after the elements" % (path, len(body) - at))
    vertices = rows["vertex"]
    positions = [(v["x"], v["y"], v["z"]) for v in vertices]
    normals = [(v["nx"], v["ny"], v["nz"]) for v in vertices] if vertices and "nx" in vertices[0] else None
    return positions, [f["vertex_indices"] for f in rows["face"]], normals


def read_stl(path):
    data = open(path, "rb").read()
    (count,) = struct.unpack_from("<I", data, 80)
    if len(data) != 84 + 50 * count:
        raise ValueError("%s: %d bytes for %d facets" % (path, len(data), count))
    positions, normals = [], []
    for i in range(count):
        values = struct.unpack_from("<12f", data, 84 + 50 * i)
        normals.append(values[0:3])
        positions += [values[3:6], values[6:9], values[9:12]]
    return positions, [[3 * i, 3 * i + 1, 3 * i + 2] for i in range(count)], normals


def read_glb(path):
    """The triangles of every mesh the default scene's nodes place, in the
    file's own axes (y up), with the nodes' transforms applied."""
    data = open(path, "rb").read()
    magic, version, length = struct.unpack_from("<4sII", data)
    if magic != b"glTF" or version != 2 or length != len(data):
        raise ValueError("%s: not a GLB 2 of its length" % path)
    chunks, at = {}, 12
    while at < len(data):
        size, kind = struct.unpack_from("<I4s", data, at)
        chunks[kind] = data[at + 8:at + 8 + size]
        at += 8 + size
    gltf, binary = json.loads(chunks[b"JSON"]), chunks.get(b"BIN\0", b"")

    def accessor(index, width):
        a = gltf["accessors"][index]
        view = gltf["bufferViews"][a["bufferView"]]
        kind = {5121: "B", 5123: "H", 5125: "I", 5126: "f"}[a["componentType"]]
        stride = view.get("byteStride") or width * struct.calcsize(kind)
        start = view.get("byteOffset", 0) + a.get("byteOffset", 0)
        return [struct.unpack_from("<%d%s" % (width, kind), binary, start + i * stride) for i in range(a["count"])]

    def matrix(node):  # column-major 4 x 4
        if "matrix" in node:
            return node["matrix"]
        (x, y, z, w), (sx, sy, sz) = node.get("rotation", (0, 0, 0, 1)), node.get("scale", (1, 1, 1))
        r = [1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w),
             2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
             2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)]
        s = (sx, sy, sz)
        return [r[i] * s[i // 3] for i in range(3)] + [0] + [r[3 + i] * s[1] for i in range(3)] + [0] + \
               [r[6 + i] * s[2] for i in range(3)] + [0] + list(node.get("translation", (0, 0, 0))) + [1]

    def times(m, p, w):
        return tuple(m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r] * w for r in range(3))

    def product(a, b):
        return [sum(a[k * 4 + r] * b[c * 4 + k] for k in range(4)) for c in range(4) for r in range(4)]

    positions, faces, normals = [], [], []
    todo = [(n, [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1]) for n in gltf["scenes"][gltf.get("scene", 0)]["nodes"]]
    while todo:
        index, parent = todo.pop()
        node = gltf["nodes"][index]
        m = product(parent, matrix(node))
        todo += [(child, m) for child in node.get("children", [])]
        for primitive in gltf["meshes"][node["mesh"]]["primitives"] if "mesh" in node else []:
            if primitive.get("mode", 4) != 4:
                raise ValueError("%s: a primitive not of triangles" % path)
            attributes, base = primitive["attributes"], len(positions)
            points = accessor(attributes["POSITION"], 3)
            positions += [times(m, p, 1) for p in points]
            if "NORMAL" in attributes:
                normals += [times(m, n, 0) for n in accessor(attributes["NORMAL"], 3)]
            corners = [i for (i,) in accessor(primitive["indices"], 1)] if "indices" in primitive else range(len(points))
            faces += [[base + c for c in corners[i:i + 3]] for i in range(0, len(corners), 3)]
    if normals and len(normals) != len(positions):
        raise ValueError("%s: not every primitive has normals" % path)
    return positions, faces, normals or None


READERS = {"obj": read_obj, "ply": read_ply, "stl": read_stl, "glb": read_glb}


def blender_counts(files):
    import bpy
    import numpy
    numpy.bool = numpy.bool_  # Debian's Blender 3.4 glTF add-on still uses the name numpy 1.24 removed
    for path in files:
        bpy.ops.wm.read_factory_settings(use_empty=True)
        {"obj": lambda: bpy.ops.wm.obj_import(filepath=path),
         "glb": lambda: bpy.ops.import_scene.gltf(filepath=path),
         "ply": lambda: bpy.ops.import_mesh.ply(filepath=path),
         "stl": lambda: bpy.ops.import_mesh.stl(filepath=path)}[path.rsplit(".", 1)[1]]()
        meshes = [o.data for o in bpy.data.objects if o.type == "MESH"]
        print("%s: %d vertices, %d polygons" % (path, sum(len(m.vertices) for m in meshes),
                                                 sum(len(m.polygons) for m in meshes)), flush=True)


if __name__ == "__main__":
    import sys
    blender_counts(sys.argv[sys.argv.index("--") + 1:])
