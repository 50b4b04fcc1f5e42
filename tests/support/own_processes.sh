# Shared by the test scripts that start processes. Source it; do not run.

# stop_own PID...: ends each process that this shell started and that has not yet been
# waited for. A number whose process has ended is free again, and on a busy machine it soon
# belongs to another test's display server or program, which a plain kill would end.
stop_own() {
  local pid stat
  for pid in "$@"; do
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
    # After the name in brackets come the state and the parent's number.
    stat=${stat##*) }
    [ "$(cut -d ' ' -f 2 <<<"$stat")" = "$$" ] || continue
    kill "$pid" 2>/dev/null || continue
    # A stopped process takes its signal once it goes on; one that has already ended is gone.
    kill -CONT "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  return 0
}
