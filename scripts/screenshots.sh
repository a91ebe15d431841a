#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots of the program running under Wine, driven with the
# real mouse and keyboard: screenshots.sh [kestrave.exe [folder]] (default: the i686 build, and
# docs/screenshots; the x86-64 build where this machine runs no 32-bit programs). Runs on its
# own virtual display, so the shots never show a desktop. With KESTRAVE_SCREENSHOT_DPI set (144
# for 150 %), the shots are taken at that display scale, in the prefix the display-scale tests
# use, and named with the scale (main-start-150.png).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
unset DISPLAY
dpi="${KESTRAVE_SCREENSHOT_DPI:-96}"
suffix=""
if [ "$dpi" != 96 ]; then
  export KESTRAVE_WINEPREFIX="$root/build/wineprefix-scales"
  suffix="-$((dpi * 100 / 96))"
fi
source "$root/scripts/wine-env.sh"
exe="${1:-$root/build/$KESTRAVE_RUN_ARCH/src/windows/kestrave.exe}"
out="${2:-$root/docs/screenshots}"
[ $# -ge 1 ] || "$root/scripts/build.sh" "$KESTRAVE_RUN_ARCH" >/dev/null
mkdir -p "$out"

# Two controls to queue, in a folder of their own inside the prefix, so the shots show a
# plain Windows path.
work="$WINEPREFIX/drive_c/controls"
controls='C:\controls'
cleanup() {
  wine_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
wine_env_start_display
wine_env_boot
if [ "$dpi" != 96 ]; then
  # Wine reads the scale when its server starts.
  for key in 'HKCU\Control Panel\Desktop' \
             'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
    wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
  done
  wineserver -k || true; wineserver -w || true
  wine_env_start_server
fi
mkdir -p "$work"
: >"$work/a.ocx"
: >"$work/b.OCX"

main_window() {
  for _ in $(seq 100); do
    local id
    id="$(xdotool search --onlyvisible --name '^Kestrave v' 2>/dev/null | head -1 || true)"
    if [ -n "$id" ]; then echo "$id"; return; fi
    sleep 0.1
  done
  echo "screenshots: the main window did not appear" >&2
  exit 1
}

# Shoots the screen area of the main window (the dialogs open over it) into a file.
shoot() {
  local geometry x y w h
  geometry="$(xdotool getwindowgeometry --shell "$main")"
  x="$(sed -n 's/^X=//p' <<<"$geometry")"
  y="$(sed -n 's/^Y=//p' <<<"$geometry")"
  w="$(sed -n 's/^WIDTH=//p' <<<"$geometry")"
  h="$(sed -n 's/^HEIGHT=//p' <<<"$geometry")"
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$1"
}

# A design pixel (100 %) at the scale of the shots.
px() { echo $((($1 * dpi + 48) / 96)); }

# Moves onto a point of a window (design pixels of its client area), lets the button see the
# hover, and clicks.
click() {
  xdotool mousemove --window "$1" "$(px "$2")" "$(px "$3")"
  sleep 0.3
  xdotool click 1
  sleep "${4:-1}"
}

wine "$exe" </dev/null >/dev/null 2>&1 &
main="$(main_window)"
sleep 1.5
xdotool mousemove 0 0
sleep 0.5
shoot "$out/main-start$suffix.png"

# Options: 设 置, then the dialog alone; its close button ends it.
click "$main" 273 358
dialog=""
for _ in $(seq 50); do
  dialog="$(xdotool search --onlyvisible --name '' 2>/dev/null | while read -r id; do
    geometry="$(xdotool getwindowgeometry --shell "$id")"
    if grep -qx "WIDTH=$(px 248)" <<<"$geometry" && grep -qx "HEIGHT=$(px 305)" <<<"$geometry"; then echo "$id"; fi
  done | tail -1)"
  [ -n "$dialog" ] && break
  sleep 0.2
done
if [ -z "$dialog" ]; then
  echo "screenshots: the options dialog did not appear" >&2
  exit 1
fi
xdotool mousemove 0 0
sleep 0.5
import -display "$DISPLAY" -window "$dialog" "$out/options$suffix.png"
click "$dialog" 234 15

# Help over the main window: 帮 助, shot with the pointer away, closed again.
click "$main" 273 386
xdotool mousemove 0 0
sleep 0.5
shoot "$out/help-over-main$suffix.png"
click "$dialog" 234 15

# A filled queue: 添 加 twice through the real file-open dialog, the last row selected.
# Wine draws its file-open dialog more slowly at a larger scale.
opening=2
[ "$dpi" = 96 ] || opening=5
for name in a.ocx b.OCX; do
  click "$main" 273 258 "$opening"
  xdotool type --delay 20 "$controls\\$name"
  xdotool key Return
  sleep 1
done
click "$main" 100 201
xdotool mousemove 0 0
sleep 0.5
shoot "$out/main-queue$suffix.png"
if [ "$dpi" != 96 ]; then
  # Back at 100 %, as the display-scale tests expect to find the prefix.
  for key in 'HKCU\Control Panel\Desktop' \
             'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
    wine reg add "$key" /v LogPixels /t REG_DWORD /d 96 /f </dev/null >/dev/null 2>&1
  done
fi
echo "screenshots: $out"
