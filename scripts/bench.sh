#!/usr/bin/env bash
# Runs the registration benchmark under Wine and prints its figures: bench.sh [N [rounds]]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" i686 >/dev/null
source "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
out="$root/build/bench-output.txt"
# Wine's output goes to a file: a pipe would be held open by the Wine services.
wine "$root/build/i686/bench/batch_bench.exe" "$@" </dev/null >"$out" 2>&1 || true
cat "$out"
