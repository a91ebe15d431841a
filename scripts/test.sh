#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs every test under Wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" x86_64   # the shipped build is 32-bit; the 64-bit one is tested too
"$root/scripts/build.sh" i686

source "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
wine_env_keepalive "$root/build/i686/tests/support/keepalive.exe"
status=0
for arch in i686 x86_64; do
  echo "== tests of the $arch build"
  (cd "$root/build/$arch" && ctest --output-on-failure --timeout 300 "$@") || status=1
done
exit $status
