#!/usr/bin/env bash
# Runs the registration benchmark under Wine and prints its figures: bench.sh [N [rounds]]
# (the i686 build, or the x86-64 one where this machine runs no 32-bit programs).
# bench.sh --servers [rounds] runs the one over the system's own servers instead, in a Wine
# prefix of its own: it registers copies of the prefix's servers, which re-points their classes.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bench=batch_bench
if [ "${1:-}" = --servers ]; then
  bench=server_bench
  shift
  export KESTRAVE_WINEPREFIX="$root/build/wineprefix-servers"
fi
"$root/scripts/setup.sh"
source "$root/scripts/wine-env.sh"
"$root/scripts/build.sh" "$KESTRAVE_RUN_ARCH" >/dev/null
trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
out="$root/build/bench-output.txt"
# Wine's output goes to a file: a pipe would be held open by the Wine services.
wine "$root/build/$KESTRAVE_RUN_ARCH/bench/$bench.exe" "$@" </dev/null >"$out" 2>&1 || true
cat "$out"
