# shellcheck shell=bash
# Shell functions shared by scripts/e2e and scripts/run (sourced, not run):
# a private virtual display, a Wine prefix set up for it, and screenshots on
# the driver's request.

# Windows paths of files on the Linux side, through Wine's Z: drive.
winpath() { local p="${1//\//\\}"; printf 'Z:%s' "$p"; }

# Starts Xvfb on a display number that the server picks as free; sets
# DISPLAY and XVFB_PID. $1: folder for its log and display number; $2: the
# screen's size and depth (1280x1280x24 unless given).
start_xvfb() {
  local dir="$1" size="${2:-1280x1280x24}"
  rm -f "$dir/display"
  exec 3>"$dir/display"
  Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
  XVFB_PID=$!
  exec 3>&-
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$dir/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$dir/xvfb.log" >&2
    return 1
  fi
  DISPLAY=":$(head -n1 "$dir/display")"
  export DISPLAY
}

# Creates the Wine prefix $WINEPREFIX when it has none yet, and gives it
# desktop settings under which the window looks as on Windows (the e2e checks
# read texts and states, not pixels, so only the screenshots depend on them):
# - with no window manager on the display, Wine draws the title bars itself;
# - the window is laid out for Segoe UI, which Wine lacks (see below for the
#   stand-in); Wine's fallback font is far wider;
# - menu and button faces share one colour, as the window expects (its
#   background is the menu colour, its static texts are drawn on the button face).
# $1: folder for the log.
prepare_wineprefix() {
  local dir="$1"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    timeout 180 wineboot -i >>"$dir/wineboot.log" 2>&1 || true
  fi
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Control Panel\\Colors]\r\n"Menu"="240 240 240"\r\n"ButtonFace"="240 240 240"\r\n\r\n'
    # Wine's Tahoma and Marlett (fonts-wine): the dialogs' face and the
    # caption buttons' symbols.
    cp /usr/share/wine/fonts/tahoma*.ttf /usr/share/wine/fonts/marlett.ttf \
      "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # Open Sans (package fonts-open-sans) is, like Segoe UI, a humanist sans
    # and at the window's cell heights of 16 and 18 pixels it sets the texts
    # in nearly the same widths; Tahoma is the second choice.
    if [ -f /usr/share/fonts/truetype/open-sans/OpenSans-Regular.ttf ]; then
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Segoe UI"="Open Sans"\r\n'
    elif [ -f /usr/share/wine/fonts/tahoma.ttf ]; then
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Segoe UI"="Tahoma"\r\n'
    fi
  } >"$dir/desktop.reg"
  timeout 60 wine reg import "$(winpath "$dir/desktop.reg")" >>"$dir/wineboot.log" 2>&1 || true
  timeout 60 wineserver -w || true
}

# Takes screenshots on the driver's request: it creates NAME.req in $1, this
# saves NAME.png there and answers with NAME.done. Sets WATCHER_PID.
start_shot_watcher() {
  local shots="$1"
  (
    while :; do
      for req in "$shots"/*.req; do
        [ -e "$req" ] || continue
        name=$(basename "$req" .req)
        timeout 20 import -display "$DISPLAY" -window root "$shots/$name.png" >/dev/null 2>&1 || true
        rm -f "$req"
        : >"$shots/$name.done"
      done
      sleep 0.1
    done
  ) &
  WATCHER_PID=$!
}

# Ends what the functions above started: the watcher, every Wine process of
# the prefix, the display.
stop_display() {
  [ -n "${WATCHER_PID:-}" ] && kill "$WATCHER_PID" 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && timeout 20 wineserver -k >/dev/null 2>&1
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  WATCHER_PID=""
  XVFB_PID=""
  return 0
}
