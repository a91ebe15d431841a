#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it under Wine. Without a display it
# runs on a virtual one, saves a screenshot of the window and says where.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" i686

source "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
exe="$root/build/i686/src/windows/kestrave.exe"
if [ "$KESTRAVE_VIRTUAL_DISPLAY" = 1 ]; then
  wine "$exe" </dev/null >/dev/null 2>&1 &
  pid=$!
  sleep "${KESTRAVE_SHOT_DELAY:-4}"
  shot="$root/build/kestrave-screenshot.png"
  import -display "$DISPLAY" -window root "$shot"
  echo "No display here: the program ran on virtual display $DISPLAY; screenshot: $shot"
  kill "$pid" 2>/dev/null || true
else
  wine "$exe"
fi
