# Sourced by the scripts: the Wine loader this machine can use (see wine-loader.sh), a display,
# a booted project-local Wine prefix, and a keep-alive window. Sourcing it makes the loader's
# choice once and says so where only the x86-64 build can run. Call wine_env_stop when done
# (the scripts trap it on exit).
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/steps.sh"
source "$root/scripts/wine-loader.sh"
wine_loader_choose
export WINEPREFIX="${KESTRAVE_WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=-all
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
mkdir -p "$WINEPREFIX"

xvfb_pid=""
keepalive_pid=""

wine_env_start_display() {
  # Our own display unless a real one is there; a program's windows need one.
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    KESTRAVE_VIRTUAL_DISPLAY=0
  else
    local n=99
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    local log="$root/build/logs/xvfb.log"
    mkdir -p "$root/build/logs"
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    local up=0
    for _ in $(seq 50); do
      if xdpyinfo >/dev/null 2>&1; then up=1; break; fi
      if ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
      sleep 0.1
    done
    if [ "$up" != 1 ]; then
      {
        echo "Failed: starting the virtual display $DISPLAY (Xvfb) within 5 s. The last lines of its output ($log):"
        tail -n 20 "$log" | sed 's/^/    /'
      } >&2
      exit 1
    fi
    KESTRAVE_VIRTUAL_DISPLAY=1
  fi
  export KESTRAVE_VIRTUAL_DISPLAY
  echo "$DISPLAY" >"$WINEPREFIX/.kestrave-display"
}

wine_env_boot() {
  # The first Wine call starts wineserver and the service processes; they inherit its output,
  # so that call writes into a log file, never into a pipe somebody reads.
  run_step "wine: starting the Wine server" wine_env_start_server
  run_step "wine: booting the prefix $WINEPREFIX (wineboot)" wine wineboot
  # Without a window manager Wine waits ~2 s for every dialog unless its windows are unmanaged.
  run_step "wine: leaving windows unmanaged" \
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
  run_step "wine: no crash dialog for a crashing program" \
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  wine_env_fonts
}

wine_env_start_server() {
  # The server exits at once with status 2 when one of this prefix is still running, often one
  # that a script which just ended is stopping: it gets a few seconds to go, and one that stays
  # is used as it is.
  local status
  for _ in $(seq 25); do
    status=0
    wineserver -p || status=$?
    [ "$status" = 2 ] || return "$status"
    sleep 0.2
  done
  echo "A Wine server of $WINEPREFIX is already running; using it."
}

wine_env_fonts() {
  # The program asks for 宋体 as Windows has it. Left alone, Wine substitutes WenQuanYi Zen Hei,
  # which drops strokes at 12-14 px and has taller lines that cut rows Windows fits. The prefix
  # gets the bitmap-hinted Sharp face of fonts-wqy-zenhei, with SimSun's line spacing, instead.
  local family='WenQuanYi Sharp SimSun Lines'
  local font="$WINEPREFIX/drive_c/windows/Fonts/wqy-sharp-simsun-lines.ttf"
  local source=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
  if [ ! -s "$font" ] || [ "$root/scripts/song_font.py" -nt "$font" ]; then
    run_step "fonts: making the 宋体 stand-in font" \
      "$root/scripts/song_font.py" "$source" "$font.tmp" "$family"
    mv "$font.tmp" "$font"
  fi
  local face
  for face in 宋体 SimSun; do
    run_step "fonts: mapping $face to the stand-in font" \
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "$family" /f
  done
}

wine_env_keepalive() {
  # explorer.exe lingers after the last window closes and holds its starter's pipes; a hidden
  # window that lives for the whole run keeps one explorer, started with no pipes, alive.
  local exe="$1"
  [ -f "$exe" ] || return 0
  wine "$exe" </dev/null >/dev/null 2>&1 &
  keepalive_pid=$!
}

wine_env_stop() {
  [ -n "$keepalive_pid" ] && kill "$keepalive_pid" 2>/dev/null
  wineserver -k </dev/null >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -f "$WINEPREFIX/.kestrave-display"
  keepalive_pid=""
  xvfb_pid=""
}
