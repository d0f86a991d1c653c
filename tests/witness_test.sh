#!/usr/bin/env bash
# Witness check of the headless converter against two independent tools:
# gdal_translate writes the grid files (one without a NODATA_value line, one
# with it), assimp reads the OBJ files back, and the vertex, triangle and quad
# counts it finds must be the ones dunmoor-convert printed.
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

if ((failures > 0)); then
    echo "$failures witness check(s) failed"
    exit 1
fi
echo "all witness checks passed"
