#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12. Safe to run again:
# it only installs what is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/steps.sh"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake ninja-build python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  googletest
  wine wine32 wine64
  xvfb xdotool x11-utils imagemagick
  fonts-wqy-zenhei python3-fonttools locales
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  run_step "setup: enabling i386 packages" $SUDO dpkg --add-architecture i386
  run_step "setup: updating the package lists" $SUDO apt-get update -qq
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  if [ "$status" != "install ok installed" ]; then missing+=("$p"); fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  run_step "setup: updating the package lists" $SUDO apt-get update -qq
  run_step "setup: installing the missing packages" $SUDO env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Our users run a Chinese Windows (code page 936); Wine takes its locale from LANG.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    run_step "setup: adding zh_CN.UTF-8 to /etc/locale.gen" \
      $SUDO sh -c "echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen"
  fi
  run_step "setup: generating the zh_CN.UTF-8 locale" $SUDO locale-gen
fi
