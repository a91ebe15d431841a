#!/usr/bin/env bash
# Runs the registration benchmark under Wine and prints its figures: bench.sh [N [rounds]]
# (the i686 build, or the x86-64 one where this machine runs no 32-bit programs).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
source "$root/scripts/wine-env.sh"
"$root/scripts/build.sh" "$KESTRAVE_RUN_ARCH" >/dev/null
trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
out="$root/build/bench-output.txt"
# Wine's output goes to a file: a pipe would be held open by the Wine services.
wine "$root/build/$KESTRAVE_RUN_ARCH/bench/batch_bench.exe" "$@" </dev/null >"$out" 2>&1 || true
cat "$out"
