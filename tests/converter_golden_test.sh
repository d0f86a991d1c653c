#!/usr/bin/env bash
# The command-line converter writes the golden files of the worked examples
# byte for byte (the same job code as the window), and handles what users
# give it: several files and patterns, names beyond ASCII, bad units, files
# that are not grids.
#   converter_golden_test.sh DUNMOOR_CONVERT [...]   (a command: e.g. wine-run dunmoor-convert.exe)
set -euo pipefail
convert=("$@")
data=$(cd "$(dirname "$0")/data/golden" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export LC_ALL=C.UTF-8  # Wine hands non-ASCII arguments over in the locale's encoding
stamp="2026-12-07, 14:03"
failed=0
fail() { echo "FAIL $*"; failed=1; }
check() {  # GRID GOLDEN WRITTEN [converter options...]
  local grid=$1 golden=$2 written=$3
  shift 3
  "${convert[@]}" "$data/$grid" --outdir "$out" --timestamp "$stamp" "$@" >/dev/null
  if cmp -s "$out/$written" "$data/$golden"; then
    echo "ok   $grid $*"
  else
    fail "$grid $*: $written differs from $golden"
  fi
}
for f in planes_example planes_cellsize2 planes_xll1000; do
  check $f.asc ${f}__floating_planes.obj ${f}__floating_planes.obj --method floating
done
check planes_columns3to5.asc planes_columns3to5__floating_planes.obj planes_columns3to5__floating_planes.obj \
  --method floating --region 3 1 5 2
for f in corners_single corners_single_nodata corners_square corners_square_nodata header_standard \
         header_without_nodata header_fractional_nodata header_one_line; do
  check $f.asc ${f}__interpolated.obj ${f}__interpolated.obj --method interpolated
done
check corners_square.asc corners_square_column2.expected corners_square__interpolated.obj --region 2 1 2 2

# expect STATUS TEXT [converter arguments...]: the exit status and a line of the output.
expect() {
  local want=$1 text=$2 got=0 printed
  shift 2
  printed=$("${convert[@]}" "$@" 2>&1) || got=$?
  if [[ $got != "$want" || $printed != *"$text"* ]]; then
    fail "$*: exit $got, want $want with \"$text\"; printed: $printed"
  else
    echo "ok   exit $want: $*"
  fi
}
grids="$out/grids"
mkdir "$grids"
# Several files, one of them named beyond ASCII (and beyond the Windows ANSI
# code page), and a pattern that the converter expands itself.
for name in tile_1 tile_2 tile_3 "Höhe_地形"; do cp "$data/planes_example.asc" "$grids/$name.asc"; done
expect 0 "total: 4 converted, 0 failed" "$grids/Höhe_地形.asc" "$grids/tile_?.asc" --method floating \
  --timestamp "$stamp" --jobs 2
for name in tile_1 tile_2 tile_3; do
  sed "s/planes_example__/${name}__/" "$data/planes_example__floating_planes.obj" | cmp -s - "$grids/${name}__floating_planes.obj" ||
    fail "$name: not the golden file"
done
[[ -f "$grids/Höhe_地形__floating_planes.obj" ]] || fail "no OBJ for Höhe_地形.asc"
expect 1 "no file matches" "$grids/none_*.asc" "$grids/tile_1.asc"
mkdir "$grids/other" && cp "$grids/tile_1.asc" "$grids/other/"
expect 1 "is the one of" "$grids/tile_1.asc" "$grids/other/tile_1.asc" "$grids/other/../tile_1.asc" --outdir "$out/one"
ln -s grids "$out/alias"  # the same grid by any spelling, a linked folder too, is converted once
expect 0 "total: 1 converted" "$grids/tile_1.asc" "$grids/./tile_1.asc" "$grids/other/../tile_1.asc" "$out/alias/tile_1.asc"
# Windows names its files in any case: two grids differing only in case write one OBJ.
if [[ ${convert[0]} == *wine* ]]; then
  mkdir "$grids/case" && cp "$grids/tile_1.asc" "$grids/case/Case.asc" && cp "$data/corners_square.asc" "$grids/case/case.asc"
  expect 1 "is the one of" "$grids/case/Case.asc" "$grids/case/case.asc"
fi
expect 1 "Not proper ESRI ARC/INFO ASCII GRID file" "$data/../../converter_golden_test.sh" "$grids/tile_1.asc"
printf 'ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n1 2 3\n4\n' >"$grids/cut.asc"
expect 3 "cut.asc: The grid file held 2 fewer values than its header promised; those cells are holes." \
  "$grids/cut.asc" "$grids/tile_1.asc"
for units in 0 abc nan -1 1.5x; do
  expect 2 "units must be a positive number" "$grids/tile_1.asc" --units "$units" --outdir "$out/units"
done
[[ ! -e "$out/units" ]] || fail "a refused units value wrote a file"
# On Linux a name is bytes: one that is not UTF-8 keeps them in its output.
if [[ $(uname) == Linux && ${convert[0]} != *wine* ]]; then
  cp "$data/planes_example.asc" "$grids/$(printf 'gel\xe4nde').asc"
  expect 0 "total: 1 converted" "$grids/$(printf 'gel\xe4nde').asc"
  [[ -f "$grids/$(printf 'gel\xe4nde')__interpolated.obj" ]] || fail "the output name lost the grid name's bytes"
fi
exit $failed
