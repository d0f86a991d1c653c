#!/usr/bin/env bash
# The release zip as a user gets it: unzipped into an empty folder, the
# converter converts the sample grid under Wine into the very bytes the native
# converter writes, and the window opens under Wine on a virtual display.
#   package_test.sh ZIP NATIVE_DUNMOOR_CONVERT   (WINEPREFIX: the prefix to use)
set -euo pipefail
zip=$(realpath "$1")
native=$(realpath "$2")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
# shellcheck source=tests/e2e/display.sh
. "$root/tests/e2e/display.sh"
trap 'stop_display; rm -rf "$work"' EXIT
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failed=0
fail() { echo "FAIL $*"; failed=1; }

mkdir "$work/user"
(cd "$work/user" && unzip -q "$zip")
dir=$(echo "$work/user"/dunmoor-*-win64)
for f in dunmoor.exe dunmoor-convert.exe README.txt LICENSE.txt hillside.asc; do
  [[ -f $dir/$f ]] || fail "the zip has no $f"
done
[[ $(head -c 2 "$dir/dunmoor.exe") == MZ ]] || fail "dunmoor.exe is not a Windows program"

stamp="2026-12-07, 14:03"
mkdir "$work/native"
"$native" "$dir/hillside.asc" --outdir "$work/native" --timestamp "$stamp" >/dev/null
if printed=$(cd "$dir" && timeout 120 wine dunmoor-convert.exe hillside.asc --timestamp "$stamp" 2>&1) &&
   cmp -s "$dir/hillside__interpolated.obj" "$work/native/hillside__interpolated.obj"; then
  echo "ok   dunmoor-convert.exe from the zip: ${printed//$'\r'/}"
else
  fail "dunmoor-convert.exe from the zip: $printed"
fi

# The window: started from the folder, it must show its title within a minute.
start_xvfb "$work"
(cd "$dir" && exec wine dunmoor.exe) >"$work/wine.log" 2>&1 &
app=$!
shown=0
for _ in $(seq 120); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Dunmoor v0.2"'; then shown=1; break; fi
  kill -0 "$app" 2>/dev/null || break
  sleep 0.5
done
if ((shown)); then echo "ok   dunmoor.exe from the zip opens its window"; else fail "dunmoor.exe from the zip showed no window"; fi
kill "$app" 2>/dev/null || true
exit $failed
