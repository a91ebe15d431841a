#!/usr/bin/env bash
# Configures and builds one architecture: build.sh [i686|x86_64] (default i686, the shipped one).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
arch="${1:-i686}"
dir="$root/build/$arch"
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" >/dev/null
fi
cmake --build "$dir"
