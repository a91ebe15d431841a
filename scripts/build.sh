#!/usr/bin/env bash
# Configures and builds one architecture: build.sh [i686|x86_64 [-DOPTION=VALUE ...]]
# (default i686, the shipped one).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
arch="${1:-i686}"
dir="$root/build/$arch"
# Configured every time, so a changed option or toolchain reaches an existing build folder;
# with nothing changed this takes about a second.
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" "${@:2}" >/dev/null
cmake --build "$dir"
