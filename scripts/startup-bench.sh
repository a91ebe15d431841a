#!/usr/bin/env bash
# Runs the start-up benchmark under Wine and prints its figures: startup-bench.sh [runs [exe]]
# (default 20 runs each; exe defaults to kestrave.exe of the build this machine runs: i686, or
# x86-64 where it runs no 32-bit programs).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
source "$root/scripts/wine-env.sh"
"$root/scripts/build.sh" "$KESTRAVE_RUN_ARCH" >/dev/null
trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
# A window that lives for the whole run keeps Wine's desktop process up, so no start pays for it.
wine_env_keepalive "$root/build/$KESTRAVE_RUN_ARCH/tests/support/keepalive.exe"
runs="${1:-20}"
exe="${2:-$root/build/$KESTRAVE_RUN_ARCH/src/windows/kestrave.exe}"
out="$root/build/startup-bench-output.txt"
# Wine's output goes to a file: a pipe would be held open by the Wine services.
wine "$root/build/$KESTRAVE_RUN_ARCH/bench/startup_bench.exe" "$runs" "$(winepath -w "$exe")" </dev/null >"$out" 2>&1 || true
cat "$out"
