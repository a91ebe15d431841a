#!/usr/bin/env bash
# Runs a Windows program under the project's own Wine prefix, as a Chinese-locale Windows.
# CMake names this script as the cross-compiling emulator, so ctest runs every test through it.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The scripts choose the loader once and pass it on; ctest started by hand chooses here, quietly.
if [ -z "${KESTRAVE_WINE:-}" ]; then
  source "$root/scripts/wine-loader.sh"
  wine_loader_choose >/dev/null || exit 1
fi
[ "${KESTRAVE_RUNS_32BIT:-1}" = 1 ] || export WINELOADER="$KESTRAVE_WINE"
export WINEPREFIX="${KESTRAVE_WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=-all
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
if [ -z "${DISPLAY:-}" ] && [ -f "$WINEPREFIX/.kestrave-display" ]; then
  DISPLAY="$(cat "$WINEPREFIX/.kestrave-display")"
  export DISPLAY
fi
exec "$KESTRAVE_WINE" "$@"
