#!/usr/bin/env bash
# The command-line converter writes the golden files of the worked examples
# byte for byte (the same job code as the window), and handles what users
# give it: several files and patterns, names beyond ASCII, bad options, files
# that are not grids or not there, regions beyond a grid, both geometries,
# temporary files left behind, an interruption.
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
  # Into a file, not a pipe: Wine's server would hold a pipe open for seconds.
  "${convert[@]}" "$@" >"$out/printed" 2>&1 || got=$?
  printed=$(<"$out/printed")
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
  LC_ALL=C grep -q $'^o gel\xe4nde__interpolated.obj\r$' "$grids/$(printf 'gel\xe4nde')__interpolated.obj" ||
    fail "the o line lost the grid name's bytes"
fi
# Options checked before anything is written: no value, bad values, the help.
t1=$grids/tile_1.asc
for stamp_ in garbage $'2026-12-07, 14:03\nv 1 2 3' "2026-02-29, 10:00" "2026-12-07, 24:00" "2026-13-01, 10:00"; do
  expect 2 "--timestamp needs" "$t1" --timestamp "$stamp_" --outdir "$out/refused"
done
for n in 0 65 300 100000 2147483647; do expect 2 "threads per file from 1 to 64" "$t1" --workers $n --outdir "$out/refused"; done
expect 2 "files at a time from 1 to 1024" "$t1" --jobs 1025 --outdir "$out/refused"
expect 2 "--method needs a value: interpolated or floating" "$t1" --method
expect 2 "--region needs four values" "$t1" --region 1 1 2
expect 2 "X min 10 is above X max 5" "$t1" --region 10 10 5 5 --outdir "$out/refused"
expect 2 "--up y needs --geometry true" "$t1" --up y --outdir "$out/refused"
[[ ! -e "$out/refused" ]] || fail "refused options wrote a file"
for h in --help -h /?; do expect 0 "--workers N" "$t1" "$h"; done
expect 0 "total: 1 converted" "$t1" --timestamp "2024-02-29, 23:59"
# Per file: a region beyond the grid, a missing file; plain progress lines off a terminal.
expect 1 "tile_2.asc: not converted: X max 300 is beyond the grid's 2 columns" "$t1" "$grids/tile_2.asc" --region 200 1 300 2
expect 1 "none.asc: no such file" "$grids/none.asc" "$t1"
expect 0 "tile_1.asc: 50%" "$t1" --progress
# A temporary file of this output left by an ended process is removed, and said so.
touch "$grids/tile_2__interpolated.obj.part-2147483646-1"
expect 0 "tile_2.asc: Removed 1 temporary file" "$grids/tile_2.asc"
[[ ! -e "$grids/tile_2__interpolated.obj.part-2147483646-1" ]] || fail "the stale temporary file is still there"
# A degree grid: the classic geometry misplaces vertices (a warning), true scale does not.
printf 'ncols 3\nnrows 2\nxllcorner 10\nyllcorner 47\ncellsize 0.000833333333\n1 2 3\n4 5 6\n' >"$grids/deg.asc"
expect 3 "deg.asc: In the classic geometry some vertices" "$grids/deg.asc"
expect 3 "1 with vertices misplaced by the classic geometry" "$grids/deg.asc"
expect 0 "total: 1 converted" "$grids/deg.asc" --geometry true --up y
grep -q "^# Geometry: true scale" "$grids/deg__interpolated.obj" || fail "no true scale header line"
# An interruption cancels the running file, starts no other and leaves no temporary file.
if [[ ${convert[0]} != *wine* ]]; then
  mkdir "$out/big" && row=$(seq 2000 | tr '\n' ' ')
  { printf 'ncols 2000\nnrows 1000\nxllcorner 0\nyllcorner 0\ncellsize 1\n'; for ((r = 0; r < 1000; r++)); do echo "$row"; done; } >"$out/big/a.asc"
  for n in b c d e f g h; do ln "$out/big/a.asc" "$out/big/$n.asc"; done
  "${convert[@]}" "$out"/big/?.asc --jobs 1 --workers 1 >"$out/big.log" 2>&1 & pid=$!
  until compgen -G "$out/big/*.part-*" >/dev/null || ! kill -0 $pid 2>/dev/null; do sleep 0.01; done
  sleep 0.1 && kill -INT $pid 2>/dev/null || true
  status=0 && wait $pid || status=$?
  [[ $status == 130 ]] && grep -q "^interrupted:" "$out/big.log" || fail "SIGINT: exit $status, $(cat "$out/big.log")"
  ! compgen -G "$out/big/*.part-*" >/dev/null && [[ ! -e "$out/big/h__interpolated.obj" ]] || fail "SIGINT left $(ls "$out/big")"
  echo "ok   SIGINT: exit $status, nothing left"
fi
exit $failed
