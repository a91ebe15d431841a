#!/usr/bin/env bash
# Runs the display-scale tests once per scale: display_scale_runner.sh TESTS.exe DPI...
# Wine reads the scale (LogPixels) when its server starts, so each scale restarts the server of
# a prefix kept for these runs alone (build/wineprefix-scales), never the one the other tests
# share. The prefix is made on the first run and kept; later runs only restart its server.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
tests="$1"
shift
export KESTRAVE_WINEPREFIX="$root/build/wineprefix-scales"
# The display the other tests use, as wine-exec.sh finds it.
if [ -z "${DISPLAY:-}" ] && [ -f "$root/build/wineprefix/.kestrave-display" ]; then
  DISPLAY="$(cat "$root/build/wineprefix/.kestrave-display")"
  export DISPLAY
fi
source "$root/scripts/wine-env.sh"
logs="$root/build/logs"
mkdir -p "$logs"

set_scale() {
  local dpi="$1" key
  for key in 'HKCU\Control Panel\Desktop' \
             'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
    wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
  done
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
}

status=0
wine_env_boot >/dev/null
for dpi in "$@"; do
  set_scale "$dpi"
  wine_env_start_server
  out="$logs/display-scale-$dpi.txt"
  KESTRAVE_EXPECTED_DPI="$dpi" wine "$tests" </dev/null >"$out" 2>&1
  result=$?
  echo "== at $dpi DPI: $( [ $result = 0 ] && echo passed || echo FAILED )"
  [ $result = 0 ] || { cat "$out"; status=1; }
done
# Back at 100 %, and the server stopped, so the prefix is left as it was made.
set_scale 96
exit $status
