#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs every test under Wine: the
# tests of both builds where this machine runs 32-bit programs, of the x86-64 build where it
# runs none (see wine-loader.sh). Passes only when every test that could run passed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
source "$root/scripts/wine-env.sh"
status=0
echo "== tests of the scripts"
"$root/tests/scripts/run.sh" || status=1
"$root/scripts/build.sh" x86_64   # the shipped build is 32-bit; the 64-bit one is tested too
"$root/scripts/build.sh" i686

trap wine_env_stop EXIT
wine_env_start_display
wine_env_boot
wine_env_keepalive "$root/build/$KESTRAVE_RUN_ARCH/tests/support/keepalive.exe"
archs=(x86_64)
[ "$KESTRAVE_RUNS_32BIT" = 1 ] && archs=(i686 x86_64)
for arch in "${archs[@]}"; do
  echo "== tests of the $arch build"
  (cd "$root/build/$arch" && ctest --output-on-failure --timeout 300 "$@") || status=1
done
outcome=passed
[ "$status" = 0 ] || outcome=FAILED
if [ "$KESTRAVE_RUNS_32BIT" = 1 ]; then
  echo "== $outcome: the tests of both builds ran (this machine runs 32-bit programs)"
else
  echo "== $outcome: the tests of the x86-64 build ran; the i686 build was compiled, but its tests were not run: this machine's kernel runs no 32-bit programs"
fi
exit $status
