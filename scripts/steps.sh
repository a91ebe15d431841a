# Sourced by the scripts: runs one step of setting up with its output kept in a log, so that a
# step that fails says which it was and why, instead of ending the script with a bare status.
#
# run_step "what the step does" command [args...]
# The step's input is /dev/null and its output goes to build/logs (a file, never a pipe: the
# first Wine process leaves services running that would hold a pipe open). On failure it
# prints the step, its exit status and the tail of its output, and ends the script.
run_step() {
  local what="$1"
  shift
  local logs="${KESTRAVE_LOG_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/logs}"
  mkdir -p "$logs"
  local log
  log="$logs/$(printf '%s' "$what" | tr -c 'A-Za-z0-9' '-' | tr -s '-' | sed 's/^-//;s/-$//').log"
  local status=0
  "$@" </dev/null >"$log" 2>&1 || status=$?
  [ "$status" -eq 0 ] && return 0
  {
    echo "Failed: $what (exit status $status). The last lines of its output ($log):"
    tail -n "${KESTRAVE_LOG_TAIL:-20}" "$log" | sed 's/^/    /'
  } >&2
  exit 1
}
