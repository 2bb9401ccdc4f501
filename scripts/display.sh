# Sourced by scripts/test, scripts/demo and scripts/wine-run: a private X display for the
# Windows programs run under Wine.
#
#   start_display FIRST LAST   Xvfb on the first free display number in FIRST..LAST, with
#                              a small window manager when one is installed; exports
#                              DISPLAY and returns non-zero when no display could be made
#   stop_display               ends both
#
# Without a window manager Wine waits about 2 s for each window to be withdrawn (a host's
# exit after shutdown took 2.0 s, 30-70 ms with one); Windows always has its desktop
# manager, so the tests run as they would there. Nothing depends on it being there.
# Neither process inherits our descriptors beyond the standard ones: a lock held by the
# caller (wine-run holds its display lock on descriptor 8) would otherwise live as long as
# the display and keep every later run waiting.

display_pids=()

start_display() {
  local first=$1 last=$2 n xvfb
  for n in $(seq "$first" "$last"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1920x1200x24 -nolisten tcp </dev/null >/dev/null 2>&1 8>&- 9>&- &
    xvfb=$!
    for _ in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$xvfb" 2>/dev/null || break
      sleep 0.05
    done
    if [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      display_pids=("$xvfb")
      if [ -z "${HOSTS_NO_WINDOW_MANAGER:-}" ] && command -v matchbox-window-manager >/dev/null; then
        matchbox-window-manager -use_titlebar no </dev/null >/dev/null 2>&1 8>&- 9>&- &
        display_pids+=("$!")
      fi
      return 0
    fi
    kill "$xvfb" 2>/dev/null || true
  done
  return 1
}

stop_display() {
  local pid
  for pid in "${display_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${display_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  display_pids=()
}
