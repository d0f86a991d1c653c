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
  # 3: converted with a warning (a centre header in the classic geometry).
  "${convert[@]}" "$data/$grid" --outdir "$out" --timestamp "$stamp" "$@" >/dev/null || [ $? -eq 3 ]
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
expect 0 "largest error: " "$grids/tile_1.asc" --method simplified --max-error 1 --outdir "$out/simple"
expect 2 "--max-error must be a number" "$grids/tile_1.asc" --method simplified --max-error nan
expect 0 "terrain preview" --preview "$out/preview.png" "$grids/tile_1.asc" --preview-size 40 30
expect 2 "--preview needs a picture file name" --preview "" "$grids/tile_1.asc"
[[ $(head -c 4 "$out/preview.png" | tail -c 3) == PNG ]] || fail "--preview wrote no PNG"
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
expect 2 "--method needs a value: interpolated, floating or simplified" "$t1" --method
expect 2 "--region needs four values" "$t1" --region 1 1 2
expect 2 "X min 10 is above X max 5" "$t1" --region 10 10 5 5 --outdir "$out/refused"
expect 2 "--up y needs --geometry true" "$t1" --up y --outdir "$out/refused"
expect 2 "--origin needs --geometry true" "$t1" --origin 0 -1.5 --outdir "$out/refused"
expect 2 "--tile-set converts whole tiles" "$t1" --tile-set --region 1 1 1 1 --outdir "$out/refused"
expect 2 "--height-range needs two heights" "$t1" --heightmap --height-range 5 1 --outdir "$out/refused"
# Every number is plain decimal text: nothing around it, no '+', hex, exponent, inf or nan.
for v in 0x10 " 1" "1 " +1 1e2 inf -0 .5; do
  expect 2 "--max-error must be a number" "$t1" --method simplified --max-error "$v" --outdir "$out/refused"
done
for args in "--slice| 1/2" "--slice|+1/+2" "--jobs|0x10" "--workers|1 " "--units|1e0" "--region|1|1| 2|2" \
            "--preview-size|+40|30"; do
  IFS='|' read -ra values <<<"$args" && expect 2 "" "$t1" "${values[@]}" --outdir "$out/refused"
done
[[ ! -e "$out/refused" ]] || fail "refused options wrote a file"
for h in --help -h /?; do expect 0 "--workers N" "$t1" "$h"; done
expect 0 "total: 1 converted" "$t1" --timestamp "2024-02-29, 23:59"
# A path beyond 260 characters. Wine opens one without the manifest that allows it on Windows, so
# there the manifest is looked for in the executable.
deep=$out/$(printf 'folder_%0100d/' 1 2 3) && mkdir -p "$deep" && cp "$t1" "$deep/"
expect 0 "total: 1 converted" "$deep/tile_1.asc" && [[ -f $deep/tile_1__interpolated.obj ]] || fail "no OBJ in $deep"
if [[ ${convert[0]} == *wine* ]]; then
  grep -aq '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>' \
    "${convert[1]}" || fail "${convert[1]} has no manifest that allows long paths"
fi
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
# The height bitmap beside the OBJ or alone: the same PNG, its world file, its range said; two
# grids of one stem are refused for the bitmap as for the OBJ.
hm=$out/hm
expect 0 "tile_1__heightmap.png: vertices: 8, triangles: 6, quads: 3, no data: 1, heights: 5 to 8" "$t1" --heightmap --outdir "$hm"
mv "$hm/tile_1__heightmap.png" "$hm/both.png" && rm "$hm/tile_1__interpolated.obj"
expect 0 "tile_1__heightmap.png: no data: 1, holes: 0, heights: 5 to 8" "$t1" --heightmap-only --outdir "$hm"
cmp -s "$hm/both.png" "$hm/tile_1__heightmap.png" && [[ ! -e "$hm/tile_1__interpolated.obj" ]] &&
  [[ $(tr -d '\r' <"$hm/tile_1__heightmap.pgw" | tr '\n' ' ') == "1 0 0 -1 0.5 1.5 " ]] || fail "--heightmap-only: $(ls "$hm")"
expect 1 "not converted, its height bitmap" "$t1" "$grids/other/tile_1.asc" --heightmap-only --outdir "$hm"
# Batches: a list (spaces, CR LF, a blank line, standard input) beside a pattern; three slices that
# convert each file once between them, whatever order each is given, into one log; the failed file
# taken from the log and rerun; complete outputs skipped, a cut, a foreign and a missing one (a
# stale temporary file beside it, complete as it may be) converted again.
b="$out/batch/in dir" && mkdir -p "$b"
for n in 1 2 3 4; do cp "$data/corners_square.asc" "$b/t $n.asc"; done
printf 'ncols 2\n' >"$b/t 5.asc"
printf '%s\r\n' "$b/t 2.asc" "" "$b/t 1.asc" >"$out/batch/list"
for k in 1 2 3; do  # the second slice is given the files in another order
  first=() && ((k != 2)) || first=("$b/t 4.asc")
  "${convert[@]}" --slice $k/3 "${first[@]}" "$b/t ?.asc" --from - --log "$out/batch/log" --timestamp "$stamp" \
    <"$out/batch/list" >"$out/printed" 2>&1 || true
done
[[ $(cut -f1 "$out/batch/log" | sort | uniq -c | awk '$1 == 1' | wc -l) == 6 ]] &&
  [[ $(grep -c $'\tconverted\t9\t8\t4\t0\t0\t' "$out/batch/log") == 4 ]] || fail "slices: $(cat "$out/batch/log")"
failed_of() { awk -F'\t' 'NR > 1 { last[$1] = $2 } END { for (p in last) if (last[p] == "failed") print p }' "$@"; }  # README.md's
failed_of "$out/batch/log" >"$out/batch/again" && grep -q $'t 5.asc\tfailed\t.*\tNot proper ESRI' "$out/batch/log" ||
  fail "the log: $(cat "$out/batch/log")"
cp "$data/corners_square.asc" "$b/t 5.asc"
expect 0 "total: 1 converted, 0 failed" --from "$out/batch/again" --log "$out/batch/log"
[[ -z $(failed_of "$out/batch/log") ]] || fail "the rerun is not logged"
# A list line holding a NUL byte names no file: refused, nothing converted. A log that cannot be
# written fails the run: from the start (nothing converted), or from a line on.
printf '%s\n%s\0x\n' "$t1" "$t1" >"$out/batch/list_nul"
expect 2 "--from: line 2 of" --from "$out/batch/list_nul" --outdir "$out/not_listed"
expect 1 "--log: /dev/full cannot be written" "$t1" --log /dev/full --outdir "$out/not_listed"
[[ ! -e "$out/not_listed" ]] || fail "a refused list or log wrote $(ls "$out/not_listed")"
if [[ ${convert[0]} != *wine* ]]; then  # a log at the converter's file size limit
  head -c 4096 /dev/zero >"$out/batch/limited"
  (convert=(bash -c 'trap "" XFSZ && ulimit -f 4 && exec "$@"' limited "${convert[@]}")
   expect 1 "could not be written: File too large; the lines of 1 file are missing" "$t1" --log "$out/batch/limited" \
     --outdir "$out/limited"
   exit $failed) || failed=1
fi
truncate -s -1 "$b/t 2__interpolated.obj" && echo "# 3 quads" >"$b/t 3__interpolated.obj"
mv "$b/t 4__interpolated.obj" "$b/t 4__interpolated.obj.part-2147483646-1"
expect 0 "total: 3 converted, 2 skipped, 0 failed" "$b/t ?.asc" --skip-existing --timestamp "$stamp"
for n in 1 2 3 4; do  # t 1 as its slice wrote it
  sed "s/corners_square__/t ${n}__/" "$data/corners_square__interpolated.obj" | cmp -s - "$b/t ${n}__interpolated.obj" ||
    fail "t $n: not the golden file"
done
[[ ! -e "$b/t 4__interpolated.obj.part-2147483646-1" ]] || fail "the stale temporary file is still there"
"${convert[@]}" "$b/t 1.asc" "$b/t 2.asc" --heightmap-only >/dev/null && truncate -s -1 "$b/t 1__heightmap.png"
expect 0 "total: 1 converted, 1 skipped" "$b/t 1.asc" "$b/t 2.asc" --heightmap-only --skip-existing
# The outputs of one file are put in place together or not at all: a world
# file that cannot replace a folder of its name takes back the new OBJ.
mkdir -p "$out/all/t__heightmap.pgw/in" && cp "$data/corners_square.asc" "$out/all/t.asc"
printf 'earlier' >"$out/all/t__interpolated.obj"
expect 1 "could not be written" "$out/all/t.asc" --heightmap
[[ $(<"$out/all/t__interpolated.obj") == earlier ]] && ! compgen -G "$out/all/*.part-*" >/dev/null ||
  fail "a failed world file left $(ls "$out/all")"
# A binary format is true scale; its file stands complete by its counts (or
# a GLB's length field); one that cannot hold the region is refused unwritten.
expect 2 "the binary formats are true scale" "$out/all/t.asc" --format glb --geometry classic
expect 2 "STL is z up" "$out/all/t.asc" --format stl --up y
expect 2 "--fit-mm does not go with --units" "$out/all/t.asc" --fit-mm 100 --units 2
expect 2 "--fit-mm needs --geometry true" "$out/all/t.asc" --fit-mm 100 --geometry classic
expect 2 "--solid does not go with --method floating" "$out/all/t.asc" --solid 2 --method floating
expect 2 "--solid needs a number more than 0" "$out/all/t.asc" --solid 0
expect 2 "an STL file holds no texture" "$out/all/t.asc" --format stl --texture relief
for format in glb ply stl; do
  expect 0 "t__interpolated.$format" "$out/all/t.asc" --format $format
  expect 0 "total: 0 converted, 1 skipped" "$out/all/t.asc" --format $format --skip-existing
  truncate -s -1 "$out/all/t__interpolated.$format"
  expect 0 "total: 1 converted, 0 skipped" "$out/all/t.asc" --format $format --skip-existing
done
printf 'ncols 20000\nnrows 20000\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2\n' >"$out/all/huge.asc"
expect 1 "would pass 4 GiB, the most a GLB file holds: choose Simplified" "$out/all/huge.asc" --format glb
[[ ! -e "$out/all/huge__interpolated.glb" ]] || fail "a refused GLB was written"
# A name longer than file names may be says so.
long=$(printf 'n%.0s' {1..246}) && cp "$data/corners_square.asc" "$out/all/$long.asc"
expect 1 "at most 255" "$out/all/$long.asc"
# Simplified interrupted in each of its passes (reading, simplifying, writing),
# or short of memory in any of them: a clean end, nothing left.
if [[ ${convert[0]} != *wine* ]]; then
  mkdir "$out/rough" && awk 'BEGIN { print "ncols 2000\nnrows 1000\nxllcorner 0\nyllcorner 0\ncellsize 1"
    for (r = 0; r < 1000; r++) { l = ""; for (c = 0; c < 2000; c++) l = l (c ? " " : "") ((r * 7919 + c * 104729) % 1000) / 10; print l } }' >"$out/rough/r.asc"
  for delay in 0.05 0.6 1.2; do
    "${convert[@]}" "$out/rough/r.asc" --method simplified --max-error 0 --workers 2 >"$out/rough.log" 2>&1 & pid=$!
    sleep $delay && kill -INT $pid 2>/dev/null || true
    status=0 && wait $pid || status=$?
    [[ $status == 130 || $status == 0 ]] && ! compgen -G "$out/rough/*.part-*" >/dev/null ||
      fail "Simplified interrupted after $delay s: exit $status, left $(ls "$out/rough")"
  done
  for kib in 100000 200000 300000; do
    status=0 && (ulimit -v $kib && exec "${convert[@]}" "$out/rough/r.asc" --method simplified --max-error 0 \
      --workers 2 >"$out/rough.log" 2>&1) || status=$?
    [[ $status == 0 || ($status == 1 && $(<"$out/rough.log") == *"too large for the Simplified method"*) ]] &&
      ! compgen -G "$out/rough/*.part-*" >/dev/null || fail "Simplified in $kib KiB: exit $status, $(<"$out/rough.log")"
  done
  echo "ok   Simplified interrupted or short of memory: nothing left"
fi
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
