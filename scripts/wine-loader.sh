# Sourced by the scripts and by the tests' Wine runner: which Wine loader this machine can use,
# and which build of the program it can therefore run.
#
# Machines of our kind come two ways. Most run 32-bit programs, and Debian's `wine` launcher,
# which always picks the 32-bit loader when it is installed, runs both builds. On some the
# kernel's 32-bit emulation is off: every 32-bit program, the 32-bit loader included, fails
# with "Exec format error". There only the 64-bit loader works, and only the x86-64 build can
# run. The kernel is asked by running the 32-bit loader, not guessed from its name.
#
# wine_loader_choose sets and exports
#   KESTRAVE_RUNS_32BIT   1 or 0
#   KESTRAVE_WINE         the loader every Wine call of the scripts and the tests goes through
#   KESTRAVE_WINESERVER   the Wine server to start and stop
#   KESTRAVE_RUN_ARCH     the build that runs here: i686 (the shipped one) or x86_64
# and, where only the 64-bit loader works, WINELOADER, through which Wine starts its own helper
# programs. It prints one line saying so. KESTRAVE_WINE32_LOADER and KESTRAVE_WINE64_LOADER
# name other loaders (the scripts' own tests use stand-ins).
wine_loader_choose() {
  local wine32="${KESTRAVE_WINE32_LOADER:-/usr/lib/wine/wine}"
  local wine64="${KESTRAVE_WINE64_LOADER:-/usr/lib/wine/wine64}"
  if "$wine32" --version </dev/null >/dev/null 2>&1; then
    KESTRAVE_RUNS_32BIT=1
    # Nothing changes where 32-bit programs run: Debian's own launcher and server.
    KESTRAVE_WINE="${KESTRAVE_WINE32_LAUNCHER:-/usr/bin/wine}"
    KESTRAVE_WINESERVER="${KESTRAVE_WINESERVER_LAUNCHER:-/usr/bin/wineserver}"
    KESTRAVE_RUN_ARCH=i686
  else
    if ! "$wine64" --version </dev/null >/dev/null 2>&1; then
      echo "Neither Wine loader runs here: $wine32 nor $wine64 (is Wine installed? scripts/setup.sh installs it)" >&2
      return 1
    fi
    KESTRAVE_RUNS_32BIT=0
    KESTRAVE_WINE="$wine64"
    KESTRAVE_WINESERVER="${KESTRAVE_WINESERVER64:-$(dirname "$wine64")/wineserver64}"
    KESTRAVE_RUN_ARCH=x86_64
    export WINELOADER="$wine64"
    if [ -e "$wine32" ]; then
      echo "This machine's kernel runs no 32-bit programs (32-bit emulation is off): the i686 build is compiled but not run; running the x86-64 build"
    else
      echo "This machine has no 32-bit Wine loader ($wine32): the i686 build is compiled but not run; running the x86-64 build"
    fi
  fi
  export KESTRAVE_RUNS_32BIT KESTRAVE_WINE KESTRAVE_WINESERVER KESTRAVE_RUN_ARCH
}

# The Wine commands the scripts use, each through the chosen loader.
wine() { "$KESTRAVE_WINE" "$@"; }
winepath() { "$KESTRAVE_WINE" winepath.exe "$@"; }
wineserver() { "$KESTRAVE_WINESERVER" "$@"; }
