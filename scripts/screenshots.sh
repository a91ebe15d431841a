#!/usr/bin/env bash
# Screenshots of the windows under Wine, to look at them or to compare two builds:
# screenshots.sh OUTDIR [exe]. Writes main-start.png, main-hover.png, options.png and help.png.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:?usage: screenshots.sh OUTDIR [exe]}"
exe="${2:-$root/build/i686/src/windows/kestrave.exe}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

source "$root/scripts/wine-env.sh"
# Always a display of our own, so that nothing else is on the screen.
unset DISPLAY
pid=""
finish() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  wine_env_stop
}
trap finish EXIT
wine_env_start_display
wine_env_boot

# A fixed Windows folder, so the options page lists the same paths every time.
wine cmd /c "set windir=C:\\windows&& $(winepath -w "$exe")" </dev/null >/dev/null 2>&1 &
pid=$!
main=""
for _ in $(seq 100); do
  main="$(xdotool search --name '^Kestrave v1\.0$' 2>/dev/null | head -n1 || true)"
  [ -n "$main" ] && break
  sleep 0.1
done
[ -n "$main" ] || { echo "screenshots: the main window did not appear" >&2; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$main")"
shot() {
  sleep "${2:-1}"
  import -display "$DISPLAY" -window root "$out/$1.png"
}
click() {  # client point of the main window
  xdotool mousemove $((X + $1 - 2)) $((Y + $2)) mousemove $((X + $1)) $((Y + $2))
  sleep 0.2
  xdotool click 1
}

xdotool mousemove 5 5
shot main-start 2
xdotool mousemove $((X + 271)) $((Y + 158)) mousemove $((X + 273)) $((Y + 158))
shot main-hover
click 273 387   # 帮助
xdotool mousemove 5 5
shot help
click 272 358   # 设置
xdotool mousemove 5 5
shot options
echo "screenshots in $out"
