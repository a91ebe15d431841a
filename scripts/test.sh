#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs every test under Wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" x86_64   # must compile; the shipped build is 32-bit
"$root/scripts/build.sh" i686

source "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
wine_env_keepalive "$root/build/i686/tests/support/keepalive.exe"
cd "$root/build/i686"
ctest --output-on-failure --timeout 300 "$@"
