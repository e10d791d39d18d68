# Sourced by the scripts that open windows without a user's display.
# start_virtual_display FIRST LAST SIZE: starts Xvfb (screen SIZE, e.g. 1600x1000x24) on the first
# free display number from FIRST to LAST, exports DISPLAY, sets display_pid (for the caller's
# clean-up) and waits until the server's socket is there. Returns 1 when no number is free.
start_virtual_display() {
  local first=$1 last=$2 size=$3 n
  display_pid=""
  for n in $(seq "$first" "$last"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 "$size" -nolisten tcp >/dev/null 2>&1 &
      display_pid=$!
      export DISPLAY=":$n"
      break
    fi
  done
  [ -n "$display_pid" ] || return 1
  for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break
    sleep 0.1
  done
}
