#!/usr/bin/env bash
# Witness check of the headless converter against two independent tools:
# gdal_translate writes the grid files (one without a NODATA_value line, one
# with it), assimp reads the OBJ files back, and the vertex, triangle and quad
# counts it finds must be the ones dunmoor-convert printed. GDAL also reads
# the height bitmaps back, placed by their world files, against its own
# reading of the grids, and places grids with their .prj files where the
# world files and the True scale origins must place them. A table of every
# mesh format and method is read back by Blender, admesh and the glTF
# validator, each of them skipped where it is not installed.
#
#   witness_test.sh PATH/TO/dunmoor-convert
#
# Without gdal_translate or assimp the check is skipped (exit 0).
set -u

convert=${1:?usage: witness_test.sh PATH/TO/dunmoor-convert}
for tool in gdal_translate assimp; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool not found"
        exit 0
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A 7 x 5 raster as "x y z" lines, north row first, west to east. Every height
# differs, so no two Floating planes vertices share a position. Cells listed
# in $2 ("row:col ...") hold -9999.
write_xyz() {
    local out=$1 holes=" $2 " row col z
    : >"$out"
    for row in 1 2 3 4 5; do
        for col in 1 2 3 4 5 6 7; do
            z="$((row * 10 + col)).5"
            [[ $holes == *" $row:$col "* ]] && z=-9999
            echo "$((col - 1)).5 $((5 - row)).5 $z" >>"$out"
        done
    done
}

write_xyz "$work/plain.xyz" ""
write_xyz "$work/holes.xyz" "1:1 2:3 3:4 5:7"
# No no-data value: gdal_translate leaves out the NODATA_value line.
gdal_translate -q -of AAIGrid -ot Float32 "$work/plain.xyz" "$work/plain.asc" || fail "gdal_translate plain"
gdal_translate -q -of AAIGrid -ot Float32 -a_nodata -9999 "$work/holes.xyz" "$work/holes.asc" ||
    fail "gdal_translate holes"
grep -qi '^NODATA_value' "$work/plain.asc" && fail "plain.asc has a NODATA_value line"
grep -qi '^NODATA_value' "$work/holes.asc" || fail "holes.asc has no NODATA_value line"

# The number after "$2:" at a line's start in assimp's output $1, or after
# ", $2:" / ": $2:" in dunmoor-convert's line.
count() {
    sed -n -e "s/^$2:[[:space:]]*\\([0-9][0-9]*\\).*/\\1/p" -e "s/.*[:,] $2: \\([0-9][0-9]*\\).*/\\1/p" <<<"$1" |
        head -n 1
}

# witness NAME GRID METHOD STEM-SUFFIX EXPECTED-QUADS [REGION...]
witness() {
    local name=$1 grid=$2 method=$3 suffix=$4 cells=$5
    shift 5
    local outdir="$work/out-$name" printed obj cooked raw
    mkdir -p "$outdir"
    local region=()
    [[ $# -eq 4 ]] && region=(--region "$@")
    if ! printed=$("$convert" "$grid" --method "$method" "${region[@]}" \
        --timestamp "2024-01-01, 00:00" --outdir "$outdir" 2>&1); then
        fail "$name: dunmoor-convert failed: $printed"
        return
    fi
    obj="$outdir/$(basename "$grid" .asc)__$suffix.obj"
    [[ -f $obj ]] || { fail "$name: no $obj"; return; }

    local vertices triangles quads
    vertices=$(count "$printed" vertices)
    triangles=$(count "$printed" triangles)
    quads=$(count "$printed" quads)
    [[ $quads == "$cells" ]] || fail "$name: dunmoor-convert printed $quads quads, the grid has $cells valid cells"

    # With its default post-processing assimp splits each quad into two
    # triangles and joins vertices of the same position: what remains are
    # the mesh's own vertices.
    cooked=$(assimp info "$obj" 2>/dev/null)
    local aVertices aFaces
    aVertices=$(count "$cooked" Vertices)
    aFaces=$(count "$cooked" Faces)
    [[ $aVertices == "$vertices" ]] || fail "$name: assimp finds $aVertices vertices, dunmoor-convert printed $vertices"
    [[ $aFaces == "$triangles" ]] || fail "$name: assimp finds $aFaces triangles, dunmoor-convert printed $triangles"

    # A raw import keeps each face as written, four vertices of its own each.
    raw=$(assimp info "$obj" -r 2>/dev/null)
    aVertices=$(count "$raw" Vertices)
    aFaces=$(count "$raw" Faces)
    [[ $aFaces == "$quads" ]] || fail "$name: raw assimp finds $aFaces faces, dunmoor-convert printed $quads quads"
    [[ $aVertices == "$((4 * quads))" ]] || fail "$name: raw assimp finds $aVertices face corners for $quads quads"

    echo "$name: $vertices vertices, $triangles triangles, $quads quads"
}

witness plain-interpolated "$work/plain.asc" interpolated interpolated 35
witness plain-floating "$work/plain.asc" floating floating_planes 35
witness holes-interpolated "$work/holes.asc" interpolated interpolated 31
witness holes-floating "$work/holes.asc" floating floating_planes 31
# Columns 2 to 6, rows 2 to 4: 15 cells, two of them holes.
witness region-interpolated "$work/holes.asc" interpolated interpolated 13 2 2 6 4
witness region-floating "$work/holes.asc" floating floating_planes 13 2 2 6 4

# The PLY of each method holds the True scale OBJ's vertices (to 1/1000 of a
# cell) and faces, and assimp reads it with the faces dunmoor-convert printed.
ply_witness() {  # NAME GRID METHOD SUFFIX [--up y]
    local name=$1 grid=$2 method=$3 suffix=$4 outdir="$work/ply-$1" printed
    shift 4
    mkdir -p "$outdir"
    printed=$("$convert" "$grid" --method "$method" --format ply "$@" --outdir "$outdir" 2>&1) &&
        "$convert" "$grid" --method "$method" --geometry true "$@" --outdir "$outdir" >/dev/null 2>&1 ||
        { fail "$name: dunmoor-convert failed: $printed"; return; }
    local stem="$outdir/$(basename "$grid" .asc)__$suffix"
    /usr/bin/python3 - "$stem.ply" "$stem.obj" <<'PY' || fail "$name: the PLY is not the OBJ"
import struct, sys
ply, obj = open(sys.argv[1], "rb").read(), open(sys.argv[2]).read().split("\n")
head, body = ply.split(b"end_header\n", 1)
count = {l.split()[1]: int(l.split()[2]) for l in head.decode().splitlines() if l.startswith("element")}
v = [struct.unpack_from("<3f", body, 12 * i) for i in range(count["vertex"])]
at, faces = 12 * len(v), []
for _ in range(count["face"]):
    n = body[at]
    faces.append(list(struct.unpack_from("<%di" % n, body, at + 1)))
    at += 1 + 4 * n
assert at == len(body), "trailing bytes"
ov = [tuple(map(float, l.split()[1:])) for l in obj if l.startswith("v ")]
of = [[int(x) - 1 for x in l.split()[1:]] for l in obj if l.startswith("f ")]
assert len(v) == len(ov) and faces == of, (len(v), len(ov), len(faces), len(of))
assert all(abs(a - b) < 1e-3 for p, q in zip(v, ov) for a, b in zip(p, q)), "positions"
PY
    local faces aFaces
    faces=$(count "$printed" quads)
    [[ $faces == 0 ]] && faces=$(count "$printed" triangles)  # a simplified mesh's
    aFaces=$(count "$(assimp info "$stem.ply" -r 2>/dev/null)" Faces)
    [[ $aFaces == "$faces" ]] || fail "$name: raw assimp finds $aFaces faces, dunmoor-convert wrote $faces"
    echo "$name: the PLY holds the OBJ's vertices and faces"
}
ply_witness ply-interpolated "$work/holes.asc" interpolated interpolated
ply_witness ply-floating "$work/holes.asc" floating floating_planes --up y
ply_witness ply-simplified "$work/holes.asc" simplified simplified

# Float rasters as GDAL writes them: non-square cells (dx 2, dy 0.5, so the
# header has dx and dy lines) and no-data values that are not whole numbers.
# GDAL reads each file back; every cell it calls valid must be one plane of
# Floating planes at its column and row with its height, and no other, and
# Interpolated must find as many quads.
float_witness() {  # NAME NODATA DATATYPE
    local name=$1 nodata=$2 type=$3 grid="$work/$1.asc" printed before=$failures
    /usr/bin/python3 - "$work/$name" "$nodata" "$type" <<'PY' || { fail "$name: raster not written"; return; }
import struct, sys
path, nodata, kind = sys.argv[1], float(sys.argv[2]), sys.argv[3]
holes = {(1, 1), (2, 3), (3, 4), (5, 7)}
values = [nodata if (r, c) in holes else r * 10 + c + 0.25 for r in range(1, 6) for c in range(1, 8)]
with open(path + ".raw", "wb") as f:
    f.write(struct.pack("<35" + ("f" if kind == "Float32" else "d"), *values))
with open(path + ".hdr", "w") as f:
    f.write("ENVI\nsamples = 7\nlines = 5\nbands = 1\nheader offset = 0\nfile type = ENVI Standard\n"
            "data type = %d\ninterleave = bsq\nbyte order = 0\n" % (4 if kind == "Float32" else 5))
PY
    gdal_translate -q -of AAIGrid -a_nodata "$nodata" -a_ullr 100 205 114 202.5 "$work/$name.raw" "$grid" 2>/dev/null ||
        { fail "$name: gdal_translate"; return; }
    grep -qi '^dy' "$grid" || fail "$name: GDAL wrote no dy line"
    for method in floating interpolated; do
        if ! printed=$("$convert" "$grid" --method "$method" --outdir "$work/out-$name" 2>&1); then
            fail "$name $method: dunmoor-convert failed: $printed"
            return
        fi
    done
    [[ $(count "$printed" quads) == 31 ]] || fail "$name: Interpolated printed $(count "$printed" quads) quads, GDAL finds 31 valid cells"
    /usr/bin/python3 - "$grid" "$work/out-$name/${name}__floating_planes.obj" <<'PY' || fail "$name: planes differ from GDAL's cells"
import sys
from osgeo import gdal
ds = gdal.Open(sys.argv[1])
band = ds.GetRasterBand(1)
values, mask = band.ReadAsArray(), band.GetMaskBand().ReadAsArray()
x0, dx, _, top, _, negdy = ds.GetGeoTransform()
dy, rows = -negdy, ds.RasterYSize
yll = top - rows * dy
cells = {(r + 1, c + 1): float(values[r][c]) for r in range(rows) for c in range(ds.RasterXSize) if mask[r][c]}
v = [list(map(float, l.split()[1:])) for l in open(sys.argv[2]) if l.startswith("v ")]
planes = {}
for i in range(0, len(v), 4):
    (west, north, z), (east, _, _), (_, south, _) = v[i], v[i + 1], v[i + 2]
    # A plane's west edge is (column + xllcorner - 1) * dx, its north edge (1 - row + nrows + yllcorner) * dy.
    cell = (round(1 + rows + yll - north / dy), round(west / dx - x0 + 1))
    if abs(east - west - dx) > 0.011 or abs(north - south - dy) > 0.011: sys.exit("cell size of %s" % (cell,))
    planes[cell] = z / dx
bad = [c for c in set(cells) | set(planes) if c not in cells or c not in planes or abs(cells[c] - planes[c]) > 0.006]
if bad: sys.exit("GDAL %d cells, %d planes, differing at %s" % (len(cells), len(planes), sorted(bad)[:5]))
PY
    ((failures == before)) && echo "$name: $(count "$printed" quads) quads, each plane at GDAL's cell and height"
}
# Height bitmaps read by GDAL: one UInt16 band of the region's size, placed by its world file where
# the region lies, each pixel the linear mapping of GDAL's own reading of the grid (within 1), 0 where
# GDAL sees no data. A float grid, an integer grid with no data, dx and dy written by hand, a region.
bitmap_witness() {
    gdal_translate -q -of AAIGrid -ot Int32 -a_nodata -9999 "$work/holes.xyz" "$work/int.asc" || fail "gdal_translate int"
    printf 'ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ndx 2\ndy 0.5\nNODATA_value -1\n%s\n%s\n%s\n' \
        "3.25 -1 7 8" "1e3 2.5 -1 0.125" "4 4 4 9.75" >"$work/dxdy.asc"
    local table=() name grid region
    while read -r name grid region; do
        # shellcheck disable=SC2086  # the region's four numbers are words of their own
        "$convert" "$work/$grid" --heightmap-only ${region:+--region $region} --outdir "$work/bm-$name" >/dev/null ||
            fail "bitmap $name: dunmoor-convert failed"
        table+=("$name" "$work/$grid" "$work/bm-$name/${grid%.asc}__heightmap.png" "${region:-1 1 0 0}")
    done <<<$'float plain.asc\nint-nodata int.asc\ndxdy dxdy.asc\nregion holes.asc 2 2 6 4'
    /usr/bin/python3 - "${table[@]}" <<'PY' || fail "height bitmaps differ from GDAL's reading"
import sys, numpy as np
from osgeo import gdal
bad = []
for name, grid, png, region in zip(*[iter(sys.argv[1:])] * 4):
    g, b = gdal.Open(grid), gdal.Open(png)
    x0, y0, x1, y1 = map(int, region.split())
    cut = np.s_[y0 - 1:y1 or g.RasterYSize, x0 - 1:x1 or g.RasterXSize]
    v, m = g.ReadAsArray()[cut].astype(float), g.GetRasterBand(1).GetMaskBand().ReadAsArray()[cut] > 0
    gx, dx, _, gy, _, dy = g.GetGeoTransform()
    lo, hi, px = v[m].min(), v[m].max(), b.ReadAsArray()
    want = np.where(m, 1 + np.round((v - lo) / ((hi - lo) or 1) * 65534), 0)
    bad += [name + ": " + what for what, ok in {
        "not one UInt16 band of the region's size": b.RasterCount == 1 and px.dtype == np.uint16 and px.shape == v.shape,
        "not placed where the region lies": np.allclose(b.GetGeoTransform(), (gx + (x0 - 1) * dx, dx, 0, gy + (y0 - 1) * dy, 0, dy)),
        "pixels off the mapping": px.shape == v.shape and np.abs(px - want).max() <= 1,
        "GDAL does not read dx 2, dy 0.5": name != "dxdy" or (dx, dy) == (2, -0.5)}.items() if not ok]
    print("%s: %d x %d pixels, %d no data, heights %g to %g" % (name, v.shape[1], v.shape[0], (~m).sum(), lo, hi))
if bad: sys.exit("\n".join(bad))
PY
}

# Where GDAL places a grid: the world file's pixel size and upper-left centre and the True scale origin
# (the region's south-west corner) against GDAL's geotransform to 1 mm (1e-8 degrees), and the
# unit the origin comment names against the coordinate system GDAL reads from the .prj. UTM-sized
# corner and centre headers (a centre header's corner lies half a cell south-west), dx and dy, a
# region, and .prj files of the older keyword lines and of WKT.
georeference_witness() {
    local table=() name header region prj grid
    while IFS='|' read -r name header region prj; do
        grid="$work/geo-$name.asc"
        printf "ncols 6\nnrows 4\n$header\nNODATA_value -9999\n" >"$grid"
        printf '1 2 3 4 5 6\n%.0s' 1 2 3 4 >>"$grid"
        [[ -n $prj ]] && printf "$prj" >"${grid%.asc}.prj"
        # shellcheck disable=SC2086  # the region's four numbers are words of their own
        "$convert" "$grid" --geometry true --heightmap ${region:+--region $region} --outdir "$work/geo-$name" \
            >/dev/null || fail "georeference $name: dunmoor-convert failed"
        table+=("$name" "$grid" "$work/geo-$name/geo-$name" "${region:-1 1 6 4}")
    done <<'GRIDS'
corner|xllcorner 412345.67\nyllcorner 5000000.13\ncellsize 0.5||
corner-region|xllcorner 512000.5\nyllcorner 6234000.37\ncellsize 0.5|2 2 5 3|
centre|xllcenter 412345.67\nyllcenter 5000000.13\ncellsize 0.5||
centre-dxdy-region|XLLCENTER 300000.1\nYLLCENTER 4000000.3\ndx 2\ndy 0.5|3 1 6 2|
degrees-centre|xllcenter 10.0005\nyllcenter 47.0005\ncellsize 0.001||Projection    GEOGRAPHIC\nDatum         WGS84\nUnits         DD\n
feet|xllcorner 1968503.9\nyllcorner 16404199.5\ncellsize 3|2 1 6 4|Projection    UTM\nZone          32\nDatum         WGS84\nUnits         FEET\n
kilometres|xllcorner 412.34567\nyllcorner 5000.00013\ncellsize 0.0005||PROJCS["km",GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["latitude_of_origin",0],PARAMETER["central_meridian",9],PARAMETER["scale_factor",0.9996],PARAMETER["false_easting",500],PARAMETER["false_northing",0],UNIT["Kilometer",1000]]
GRIDS
    /usr/bin/python3 - "${table[@]}" <<'PY' || fail "georeferences differ from GDAL's"
import re, sys
from osgeo import gdal
bad = []
for name, grid, out, region in zip(*[iter(sys.argv[1:])] * 4):
    ds = gdal.Open(grid)
    x0, dx, _, y0, _, ndy = ds.GetGeoTransform()
    c0, r0, c1, r1 = map(int, region.split())
    srs = ds.GetSpatialRef()  # none without a .prj: metres, as these grids' sizes say
    metres = srs.GetLinearUnits() if srs is not None and srs.IsProjected() else 1.0
    unit = {1.0: "metres", 0.3048006096: "US survey feet"}.get(round(metres, 10), "units of %g m" % metres)
    unit = "degrees" if srs is not None and srs.IsGeographic() else unit
    world = open(out + "__heightmap.pgw", newline="").read().split("\r\n")[:6]
    comment = re.search(r"^# Origin: .* at x (\S+) y (\S+) in the grid's coordinates \((.*)\)\r$",
                        open(out + "__interpolated.obj", newline="").read(), re.M).groups()
    got = list(map(float, world + list(comment[:2])))
    want = [dx, 0, 0, ndy, x0 + (c0 - 0.5) * dx, y0 + (r0 - 0.5) * ndy, x0 + (c0 - 1) * dx, y0 + r1 * ndy]
    if max(abs(a - b) for a, b in zip(got, want)) > (1e-8 if unit == "degrees" else 1e-3 / metres) or comment[2] != unit:
        bad.append("%s: world file and origin %s (%s), GDAL %s (%s)" % (name, got, comment[2], want, unit))
    print("%s: upper-left centre %.4f %.4f, origin %.4f %.4f in %s" % (name, *want[4:], unit))
if bad: sys.exit("\n".join(bad))
PY
}

if /usr/bin/python3 -c 'from osgeo import gdal' 2>/dev/null; then
    float_witness float-min32 -3.4028234663852886e+38 Float32
    float_witness float-below-min32 -3.4028230607370965e+38 Float32
    float_witness float-nan nan Float32
    float_witness float-1e30 -1e+30 Float32
    float_witness float-min64 -1.7976931348623157e+308 Float64
    bitmap_witness
    georeference_witness
else
    echo "float rasters and height bitmaps skipped: python3-gdal not found"
fi

# Every mesh format of every method, true scale, on three grids: one with holes, one of 2 x 1.5
# cells (dx and dy lines), one in degrees with a .prj. Each file read back by tests/mesh_read.py
# holds the counts dunmoor-convert printed, the True scale OBJ's vertices (to 1/1000 of a cell)
# and faces (a binary file's triangle lies in one OBJ face), triangles counter-clockwise seen from
# above that cover the valid cells once, and unit normals pointing up. Outside readers count what
# they import: Blender the OBJ, GLB and PLY files (one process for all), admesh the STL files
# (no degenerate facets), and the glTF validator finds no error or warning in a GLB.
mesh_table() {
    sed 's/^cellsize .*/dx 2\ndy 1.5/' "$work/holes.asc" >"$work/dxdy.asc"
    sed -e 's/^xllcorner .*/xllcorner 10/' -e 's/^yllcorner .*/yllcorner 47/' -e 's/^cellsize .*/cellsize 0.001/' \
        "$work/plain.asc" >"$work/degrees.asc"
    printf 'Projection    GEOGRAPHIC\nDatum         WGS84\nUnits         DD\n' >"$work/degrees.prj"
    local rows=() grid cells method format printed normals
    for grid in holes:31 dxdy:31 degrees:35; do
        cells=${grid#*:} grid=${grid%:*}
        for method in interpolated floating simplified; do
            for format in obj glb ply stl; do  # the OBJ first: the others are read against it
                normals=() && [[ $format == obj || $format == ply ]] && normals=(--normals)
                if ! printed=$("$convert" "$work/$grid.asc" --method "$method" --format "$format" --geometry true \
                    "${normals[@]}" --outdir "$work/mesh-$grid" 2>&1); then
                    fail "$grid $method $format: dunmoor-convert failed: $printed"
                    continue
                fi
                rows+=("$(sed -n 's/^.* -> \(.*\): vertices: .*/\1/p' <<<"$printed")" "$cells"
                    "$(count "$printed" vertices)" "$(count "$printed" triangles)" "$(count "$printed" quads)")
            done
        done
    done
    PYTHONPATH="$(dirname "$0")" NODE_PATH="${XDG_CACHE_HOME:-$HOME/.cache}/dunmoor/node_modules" \
        /usr/bin/python3 - "$(dirname "$0")" "${rows[@]}" <<'PY' || fail "mesh table"
import os, re, shutil, subprocess, sys
import mesh_read

tests, rows, bad = sys.argv[1], [sys.argv[i:i + 5] for i in range(2, len(sys.argv), 5)], []
def area(a, b, c): return ((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])) / 2
def fan(faces): return [(f[0], f[i], f[i + 1]) for f in faces for i in range(1, len(f) - 1)]
def steps(points):  # the spacing of the corners along x and along y
    return [(v[-1] - v[0]) / (len(v) - 1) for v in (sorted({round(p[k], 6) for p in points}) for k in (0, 1))]

meshes = {}
for file, cells, vertices, triangles, quads in rows:
    stem, kind = file.rsplit(".", 1)
    name = "%s %s" % (os.path.basename(stem), kind)
    p, faces, normals = mesh_read.READERS[kind](file)
    if kind == "glb":  # x east, y up, z south
        p, normals = [(x, -z, y) for x, y, z in p], normals and [(x, -z, y) for x, y, z in normals]
    meshes[file] = p, faces  # and what Blender should import: the file's vertices and faces
    obj_p, obj_faces = meshes[stem + ".obj"]
    sx, sy = steps(meshes[re.sub(r"__\w+$", "__interpolated.obj", stem)][0])
    tol, tris = 1e-3 * min(sx, sy), fan(faces)
    problems = [what for what, ok in {
        "not the printed counts": len(tris) == int(triangles) and (kind == "stl" or len(p) == int(vertices)) and
            len(faces) == (int(triangles) if kind in ("glb", "stl") else int(quads) or int(triangles)),
        "a triangle not counter-clockwise seen from above": all(area(*[p[i] for i in t]) > 0 for t in tris),
        "not the %s cells' area" % cells: abs(sum(area(*[p[i] for i in t]) for t in tris) / (int(cells) * sx * sy) - 1) < 1e-3,
    }.items() if not ok]
    if kind != "obj":  # each vertex an OBJ vertex (an indexed file's each a different one), each triangle in an OBJ face
        near = [min(range(len(obj_p)), key=lambda j: max(abs(a - b) for a, b in zip(q, obj_p[j]))) for q in p]
        in_face = {frozenset(t) for f in obj_faces for t in fan([f] + [f[1:] + f[:1]])}
        if any(max(abs(a - b) for a, b in zip(q, obj_p[j])) > tol for q, j in zip(p, near)) or \
                kind != "stl" and not len(p) == len(set(near)) == len(obj_p):
            problems.append("positions not the OBJ's")
        elif not all(frozenset(near[i] for i in t) in in_face for t in tris):
            problems.append("a triangle not in one of the OBJ's faces")
    if normals is None:
        problems.append("no normals")
    elif not all(abs(sum(c * c for c in n) - 1) < 1e-3 and n[2] > 0 for n in normals):
        problems.append("normals not of unit length pointing up")
    elif kind == "stl" and not all(n[2] * area(*[p[i] for i in t]) > 0 for n, t in zip(normals, tris)):
        problems.append("a facet's normal not its winding's")
    bad += ["%s: %s" % (name, what) for what in problems]
    print("%s: %d vertices, %d triangles%s" % (name, len(p), len(tris), "" if problems else ", all checks passed"))

def run(command):
    done = subprocess.run(command, capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr

files = {kind: [r for r in rows if r[0].endswith("." + kind)] for kind in ("obj", "glb", "ply", "stl")}
validator = os.path.isdir(os.path.join(os.environ["NODE_PATH"], "gltf-validator")) and shutil.which("node")
if files["glb"] and not validator:
    print("skipped: the glTF validator not found (scripts/setup installs it)")
elif files["glb"]:
    code, out = run(["node", os.path.join(tests, "gltf_validate.js")] + [r[0] for r in files["glb"]])
    print(out, end="")
    if code: bad.append("the glTF validator finds errors or warnings")
if not shutil.which("blender"):
    print("skipped: blender not found")
else:
    code, out = run(["blender", "-b", "--factory-startup", "--python", os.path.join(tests, "mesh_read.py"), "--"] +
                    [r[0] for kind in ("obj", "glb", "ply") for r in files[kind]])
    found, imported = dict(re.findall(r"^(\S+): (\d+ vertices, \d+ polygons)$", out, re.M)), []
    for file in [r[0] for kind in ("obj", "glb", "ply") for r in files[kind]]:
        want = "%d vertices, %d polygons" % tuple(map(len, meshes[file]))
        imported += [file] if found.get(file) == want else []
        if found.get(file) != want:
            bad.append("%s: Blender imports %s, the file holds %s" % (file, found.get(file), want))
    print("Blender imports %d files with the vertices and faces they hold" % len(imported))
    if code: bad.append("Blender exits with %d:\n%s" % (code, out))
if files["stl"] and not shutil.which("admesh"):
    print("skipped: admesh not found")
for file, cells, vertices, triangles, quads in files["stl"] if shutil.which("admesh") else []:
    code, out = run(["admesh", file])
    got = [re.search(r"^%s\s*:\s*(\d+)" % key, out, re.M) for key in ("Number of facets", "Degenerate facets")]
    if code or [g and int(g.group(1)) for g in got] != [int(triangles), 0]:
        bad.append("%s: admesh reads %s facets and %s degenerate ones" % (file, *[g and g.group(1) for g in got]))
    else:
        print("%s: admesh reads its %s facets, none degenerate" % (os.path.basename(file), triangles))
if bad: sys.exit("\n".join(bad))
PY
}
mesh_table

# Textures: an image GDAL places by its world file. Every vertex's texture
# coordinates land where GDAL's geotransform puts its ground position on the
# image (within 0.05 pixel), in OBJ, GLB and PLY; the validator finds nothing
# in the textured GLB, and Blender imports OBJ and GLB with their image.
texture_table() {
    /usr/bin/python3 - "$work/photo.png" <<'PY' || { fail "texture: the image could not be made"; return; }
import sys
from PIL import Image
Image.new("RGB", (37, 29), (200, 120, 40)).save(sys.argv[1])
open(sys.argv[1][:-4] + ".pgw", "w").write("1.3\n0\n0\n-1.1\n0.4\n4.9\n")
PY
    local format files=()
    for format in obj glb ply; do
        # Exit 3: the image covers part of the grid only, as this one does.
        "$convert" "$work/holes.asc" --format "$format" --geometry true --texture "$work/photo.png" \
            --outdir "$work/texture" >/dev/null 2>&1
        (($? == 0 || $? == 3)) || fail "texture: dunmoor-convert --format $format failed"
        files+=("$work/texture/holes__interpolated.$format")
    done
    PYTHONPATH="$(dirname "$0")" NODE_PATH="${XDG_CACHE_HOME:-$HOME/.cache}/dunmoor/node_modules" \
        /usr/bin/python3 - "$(dirname "$0")" "$work/holes.asc" "$work/photo.png" "${files[@]}" <<'PY' || fail "texture table"
import os, shutil, struct, subprocess, sys
from osgeo import gdal
import mesh_read
tests, grid, photo, files = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
image = gdal.Open(photo)
x0, a, _, y0, _, e = image.GetGeoTransform()
left, bottom = gdal.Open(grid).GetGeoTransform()[0], None
g = gdal.Open(grid).GetGeoTransform()
south = g[3] + g[5] * gdal.Open(grid).RasterYSize  # the grid's south edge: True scale's y 0
bad = []
for path in files:
    kind = path.rsplit(".", 1)[1]
    data = open(path, "rb").read()
    if kind == "obj":
        p, _, _ = mesh_read.read_obj(path)
        uv = [tuple(map(float, l.split()[1:3])) for l in open(path) if l.startswith("vt ")]
        uv = [(u, 1 - v) for u, v in uv]
    elif kind == "ply":
        head, body = data.split(b"end_header\n", 1)
        count = int(head.split(b"element vertex ")[1].split(b"\n")[0])
        p = [struct.unpack_from("<3f", body, 20 * i) for i in range(count)]
        uv = [struct.unpack_from("<2f", body, 20 * i + 12) for i in range(count)]
        uv = [(u, 1 - v) for u, v in uv]
    else:
        import json
        n = struct.unpack_from("<I", data, 12)[0]
        j, bin0 = json.loads(data[20:20 + n]), 20 + n + 8
        count = j["accessors"][0]["count"]
        p = [struct.unpack_from("<3f", data, bin0 + 32 * i) for i in range(count)]
        p = [(x, -z, y) for x, y, z in p]
        uv = [struct.unpack_from("<2f", data, bin0 + 32 * i + 24) for i in range(count)]
    worst = max(max(abs(u * image.RasterXSize - (left + q[0] - x0) / a), abs(v * image.RasterYSize - (south + q[1] - y0) / e))
                for q, (u, v) in zip(p, uv))
    (bad.append if worst > 0.05 else print)("%s: texture coordinates within %.4f pixel of GDAL's" % (os.path.basename(path), worst))
validator = os.path.join(os.environ["NODE_PATH"], "gltf-validator")
glb = [f for f in files if f.endswith(".glb")]
if os.path.isdir(validator) and shutil.which("node"):
    done = subprocess.run(["node", os.path.join(tests, "gltf_validate.js")] + glb, capture_output=True, text=True)
    print(done.stdout, end="")
    if done.returncode: bad.append("the validator finds errors or warnings in the textured GLB")
else:
    print("skipped: the glTF validator not found")
if shutil.which("blender"):
    script = "import bpy, numpy, sys\nnumpy.bool = numpy.bool_\nfor f in sys.argv[sys.argv.index('--') + 1:]:\n" \
             "    bpy.ops.wm.read_factory_settings(use_empty=True)\n" \
             "    (bpy.ops.wm.obj_import if f.endswith('.obj') else bpy.ops.import_scene.gltf)(filepath=f)\n" \
             "    print('IMAGES', f, [tuple(i.size) for i in bpy.data.images], flush=True)\n"
    open(os.path.join(os.path.dirname(files[0]), "images.py"), "w").write(script)
    done = subprocess.run(["blender", "-b", "--python", os.path.join(os.path.dirname(files[0]), "images.py"), "--"] +
                          [f for f in files if not f.endswith(".ply")], capture_output=True, text=True)
    lines = [l for l in done.stdout.splitlines() if l.startswith("IMAGES")]
    for line in lines:
        (print if "(37, 29)" in line else bad.append)("Blender: %s" % line[7:])
    if len(lines) != 2: bad.append("Blender imported %d of the 2 textured files" % len(lines))
else:
    print("skipped: blender not found")
if bad: sys.exit("\n".join(bad))
PY
}
texture_table

# Solids: a no-data lake, islands, and a checkerboard whose cells touch only
# at their corners, by both methods, in STL and OBJ (and a GLB and a PLY):
# every edge once each way, the volume the top's prisms down to a flat
# bottom, one part per edge-connected area; admesh finds nothing to fix.
solid_table() {
    local parts
    parts=$(/usr/bin/python3 - "$work/solid" <<'PY'
import os, random, sys
folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
random.seed(7)
n = 14
shapes = {
    # with an island, a hole cell touching the lake at a corner, and one
    # touching the no-data corner of the edge
    "lake": lambda x, y: not (4 <= x < 10 and 3 <= y < 9 or (x, y) in ((10, 9), (1, 1), (0, 0))) or (x, y) == (6, 5),
    "islands": lambda x, y: (1 <= x < 5 and 1 <= y < 4) or (7 <= x < 12 and 5 <= y < 13) or (x, y) == (13, 0),
    "checker": lambda x, y: x < 2 or (2 <= x < 9 and 2 <= y < 9 and (x + y) % 2 == 0) or (x, y) == (9, 9),
}
for name, valid in shapes.items():
    cells = {(x, y) for x in range(n) for y in range(n) if valid(x, y)}
    with open(os.path.join(folder, name + ".asc"), "w") as f:
        f.write("ncols %d\nnrows %d\nxllcorner 0\nyllcorner 0\ncellsize 2\nNODATA_value -9999\n" % (n, n))
        for y in range(n):
            f.write(" ".join("%.2f" % (20 + 5 * random.random()) if (x, y) in cells else "-9999" for x in range(n)) + "\n")
    parts, left = 0, set(cells)  # pieces joined by cell edges
    while left:
        parts += 1
        todo = [left.pop()]
        while todo:
            x, y = todo.pop()
            for q in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
                if q in left:
                    left.remove(q)
                    todo.append(q)
    print("%s:%d" % (name, parts), end=" ")
PY
) || { fail "solid: the grids could not be made"; return; }
    local entry grid method format printed line
    for entry in $parts; do
        grid=${entry%:*}
        for method in interpolated simplified; do
            for format in stl obj glb ply; do
                [[ $format == glb || $format == ply ]] && [[ $grid != lake || $method != interpolated ]] && continue
                for solid in "--solid 1.5" ""; do
                    if ! printed=$("$convert" "$work/solid/$grid.asc" --method "$method" --format "$format" \
                        --geometry true $solid --outdir "$work/solid/${solid:+solid}surface" 2>&1); then
                        fail "solid $grid $method $format: dunmoor-convert failed: $printed"
                        continue 2
                    fi
                done
                line=$(/usr/bin/python3 "$(dirname "$0")/solid_check.py" "$work/solid/solidsurface/${grid}__$method.$format" \
                    "$work/solid/surface/${grid}__$method.$format" 1.5)
                [[ $line == "closed: ${entry#*:} parts,"* ]] || fail "solid $grid $method $format: $line"
                echo "solid $grid $method $format: $line"
                [[ $format == stl ]] && command -v admesh >/dev/null || continue
                printed=$(admesh "$work/solid/solidsurface/${grid}__$method.$format")
                for field in "Degenerate facets" "Edges fixed" "Facets removed" "Facets added" "Facets reversed" \
                    "Backwards edges" "Normals fixed"; do
                    grep -Eq "^$field +: +0$" <<<"$printed" || fail "solid $grid $method: admesh: $(grep "^$field" <<<"$printed")"
                done
                grep -Eq "^Number of parts +: +${entry#*:} " <<<"$printed" ||
                    fail "solid $grid $method: admesh: $(grep "^Number of parts" <<<"$printed")"
            done
        done
    done
    command -v admesh >/dev/null || echo "skipped: admesh not found"
}
solid_table

if ((failures > 0)); then
    echo "$failures witness check(s) failed"
    exit 1
fi
echo "all witness checks passed"
