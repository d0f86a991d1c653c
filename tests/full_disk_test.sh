#!/usr/bin/env bash
# A disk that fills up during a conversion: the converter fails with exit 1
# and names the file, the earlier file of that name stays byte for byte and
# no temporary file is left. Mounts a small tmpfs (root only); prints
# "skipped" where the machine does not allow it.
#   full_disk_test.sh DUNMOOR_CONVERT
set -euo pipefail
convert=$1
disk=$(mktemp -d)
cleanup() { umount "$disk" 2>/dev/null || true; rmdir "$disk"; }
trap cleanup EXIT
if ! mount -t tmpfs -o size=256k tmpfs "$disk" 2>/dev/null; then
  echo "skipped: no small tmpfs can be mounted here"
  exit 0
fi
# 100 x 100 cells (about 50 KB) convert to about 1 MB of Floating planes.
awk 'BEGIN { print "ncols 100\nnrows 100\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999";
             for (r = 0; r < 100; r++) { line = ""; for (c = 0; c < 100; c++) line = line sprintf("%.2f ", r + c / 7); print line } }' \
  > "$disk/grid.asc"
printf '# an earlier conversion\r\n# 1 quads' > "$disk/grid__floating_planes.obj"
cp "$disk/grid__floating_planes.obj" "$disk.earlier"
status=0
"$convert" "$disk/grid.asc" --method floating >/dev/null 2>"$disk.err" || status=$?
failed=0
[ "$status" -eq 1 ] || { echo "FAIL exit status $status, expected 1"; failed=1; }
grep -q 'grid__floating_planes.obj" could not be written' "$disk.err" || { echo "FAIL message: $(cat "$disk.err")"; failed=1; }
cmp -s "$disk/grid__floating_planes.obj" "$disk.earlier" || { echo "FAIL the earlier file changed"; failed=1; }
if ls "$disk" | grep -q '\.part-'; then echo "FAIL a temporary file was left: $(ls "$disk")"; failed=1; fi
rm -f "$disk.earlier" "$disk.err"
[ "$failed" -eq 0 ] && echo "ok   full disk: exit 1, earlier file kept, nothing left"
exit "$failed"
