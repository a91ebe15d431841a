#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it under Wine. Without a display it
# runs on a virtual one, saves a screenshot of the window and says where. Where this machine
# runs no 32-bit programs, the x86-64 build runs instead of the shipped 32-bit one.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
source "$root/scripts/wine-env.sh"
"$root/scripts/build.sh" i686
if [ "$KESTRAVE_RUN_ARCH" != i686 ]; then
  echo "The shipped 32-bit kestrave.exe is built (build/i686/src/windows/kestrave.exe) but cannot run on this machine; building and running the x86-64 one instead."
  "$root/scripts/build.sh" "$KESTRAVE_RUN_ARCH"
fi

trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
exe="$root/build/$KESTRAVE_RUN_ARCH/src/windows/kestrave.exe"
if [ "$KESTRAVE_VIRTUAL_DISPLAY" = 1 ]; then
  wine "$exe" </dev/null >/dev/null 2>&1 &
  pid=$!
  sleep "${KESTRAVE_SHOT_DELAY:-4}"
  shot="$root/build/kestrave-screenshot.png"
  import -display "$DISPLAY" -window root "$shot"
  echo "No display here: the $KESTRAVE_RUN_ARCH program ran on virtual display $DISPLAY; screenshot: $shot"
  kill "$pid" 2>/dev/null || true
else
  wine "$exe"
fi
