#!/usr/bin/env bash
# The headless converter writes the golden files of the worked examples byte
# for byte: the same job code as the window, reached from the command line.
#   converter_golden_test.sh DUNMOOR_CONVERT
set -euo pipefail
convert=$1
data=$(cd "$(dirname "$0")/data/golden" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
stamp="2026-12-07, 14:03"
failed=0
check() {  # GRID GOLDEN WRITTEN [converter options...]
  local grid=$1 golden=$2 written=$3
  shift 3
  "$convert" "$data/$grid" --outdir "$out" --timestamp "$stamp" "$@" >/dev/null
  if cmp -s "$out/$written" "$data/$golden"; then
    echo "ok   $grid $*"
  else
    echo "FAIL $grid $*: $written differs from $golden"
    failed=1
  fi
}
for f in planes_example planes_cellsize2 planes_xll1000; do
  check $f.asc ${f}__floating_planes.obj ${f}__floating_planes.obj --method floating
done
check planes_columns3to5.asc planes_columns3to5__floating_planes.obj planes_columns3to5__floating_planes.obj \
  --method floating --region 3 1 5 2
check planes_example.asc planes_units0.expected planes_example__floating_planes.obj --method floating --units 0
for f in corners_single corners_single_nodata corners_square corners_square_nodata header_standard \
         header_without_nodata header_fractional_nodata header_one_line; do
  check $f.asc ${f}__interpolated.obj ${f}__interpolated.obj --method interpolated
done
check corners_square.asc corners_square_column2.expected corners_square__interpolated.obj --region 2 1 2 2
exit $failed
