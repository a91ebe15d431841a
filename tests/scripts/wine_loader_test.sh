#!/usr/bin/env bash
# Tests of the scripts' choice of Wine loader and build, with stand-in loaders: one that fails
# the way a kernel without 32-bit emulation fails (a file that is no program for this machine),
# and ones that work. Also the report of a failing setup step.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

expect_eq() {  # what, expected, actual
  [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

# A loader that works prints a version and notes how it was called.
working_loader() {
  local path="$scratch/$1"
  printf '#!/bin/sh\necho "$0 $*" >>"%s/calls"\necho wine-8.0\n' "$scratch" >"$path"
  chmod +x "$path"
  echo "$path"
}

# An ELF header of no type for another processor: the kernel refuses it with "Exec format
# error", as it refuses every 32-bit program where its 32-bit emulation is off.
foreign_loader() {
  local path="$scratch/$1"
  printf '\177ELF\002\001\001\000\000\000\000\000\000\000\000\000\000\000\267\000\001\000\000\000' >"$path"
  head -c 40 /dev/zero >>"$path"
  chmod +x "$path"
  echo "$path"
}

good32="$(working_loader wine32)"
good64="$(working_loader wine64)"
launcher="$(working_loader launcher)"
bad32="$(foreign_loader wine32-foreign)"
bad64="$(foreign_loader wine64-foreign)"

"$bad32" --version >/dev/null 2>&1
expect_eq "the foreign loader fails as the kernel makes it fail" 126 $?

# Runs the choice in a clean shell with the given loaders; prints its output, then the
# variables it set, one per line.
choose() {  # wine32 wine64
  env -i PATH="$PATH" KESTRAVE_WINE32_LOADER="$1" KESTRAVE_WINE64_LOADER="$2" \
    KESTRAVE_WINE32_LAUNCHER="$launcher" bash -c '
      source "$0/scripts/wine-loader.sh"
      wine_loader_choose 2>&1
      status=$?
      echo "status=$status"
      echo "runs32=${KESTRAVE_RUNS_32BIT:-}"
      echo "arch=${KESTRAVE_RUN_ARCH:-}"
      echo "wine=${KESTRAVE_WINE:-}"
      echo "loader=${WINELOADER:-}"
      [ "$status" = 0 ] && wine notepad.exe >/dev/null' "$root"
}

field() {  # output, name
  sed -n "s/^$2=//p" <<<"$1"
}

line="This machine's kernel runs no 32-bit programs (32-bit emulation is off): the i686 build is compiled but not run; running the x86-64 build"

# name | 32-bit loader | 64-bit loader | status | runs32 | arch | loader called | WINELOADER | line
cases=(
  "no 32-bit emulation|$bad32|$good64|0|0|x86_64|$good64|$good64|$line"
  "32-bit programs run|$good32|$good64|0|1|i686|$launcher||"
  "no 32-bit loader installed|$scratch/none|$good64|0|0|x86_64|$good64|$good64|This machine has no 32-bit Wine loader ($scratch/none): the i686 build is compiled but not run; running the x86-64 build"
)
for case in "${cases[@]}"; do
  IFS='|' read -r name wine32 wine64 status runs32 arch called loader expected_line <<<"$case"
  : >"$scratch/calls"
  out="$(choose "$wine32" "$wine64")"
  expect_eq "$name: status" "$status" "$(field "$out" status)"
  expect_eq "$name: runs 32-bit" "$runs32" "$(field "$out" runs32)"
  expect_eq "$name: build" "$arch" "$(field "$out" arch)"
  expect_eq "$name: loader" "$called" "$(field "$out" wine)"
  expect_eq "$name: WINELOADER" "$loader" "$(field "$out" loader)"
  expect_eq "$name: printed" "$expected_line" "$(grep -v '=' <<<"$out")"
  expect_eq "$name: wine goes through the chosen loader" "$called notepad.exe" \
    "$(grep -v -- '--version' "$scratch/calls")"
done

# Neither loader works: the choice fails and names both.
out="$(choose "$bad32" "$bad64")"
expect_eq "no loader: status" 1 "$(field "$out" status)"
grep -qF "Neither Wine loader runs here: $bad32 nor $bad64" <<<"$out" ||
  fail "no loader: the message names both loaders: $out"

# A failing step names itself and shows the tail of its own output, and ends the script.
out="$(KESTRAVE_LOG_DIR="$scratch/logs" bash -c '
  source "$0/scripts/steps.sh"
  run_step "quiet step" true
  echo "after the quiet step"
  run_step "wine: booting the prefix" sh -c "seq 1 30; exit 3"
  echo "not reached"' "$root" 2>&1)"
status=$?
expect_eq "failing step: script status" 1 "$status"
expected="after the quiet step
Failed: wine: booting the prefix (exit status 3). The last lines of its output ($scratch/logs/wine-booting-the-prefix.log):
$(seq 11 30 | sed 's/^/    /')"
expect_eq "failing step: report" "$expected" "$out"

if [ "$failures" -gt 0 ]; then
  echo "wine_loader_test: $failures failed"
  exit 1
fi
echo "wine_loader_test: passed"
