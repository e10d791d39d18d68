#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine. Run as root (the
# packages and the network namespaces need it).
# Usage: tools/test.sh [extra ctest arguments, e.g. -L fast]
# A run on a busy machine: TARVISKO_TEST_BUSY=1 tools/test.sh keeps every core busy for the whole
# run (one busy loop per core, at the tests' own priority, ended with the run). Every test must pass
# that way too: a test that fails only under load asserts on how fast the machine is, not on what
# the code does. Run it at least twice after changing tests that wait, pace or time anything.
# Afterwards nothing it started runs any more: the wineserver of build/wineprefix with Wine's
# services, the display it started, and every namespace of the namespace tests; it checks that.
set -euo pipefail
# One stream, so that a log shows each error where it happened.
exec 2>&1
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
# The namespace tests call sysctl and friends, which live in the sbin folders that a minimal
# environment (env -i, some CI runners) leaves off the path.
export PATH="$PATH:/usr/local/sbin:/usr/sbin:/sbin"

echo "test.sh: installing what is missing"
if [ "$(id -u)" = 0 ]; then
  tools/setup.sh
elif command -v sudo >/dev/null; then
  sudo tools/setup.sh
else
  echo "test.sh: run as root (packages and network namespaces need it)" >&2
  exit 2
fi

build=${TARVISKO_BUILD_DIR:-$top/build}
jobs=$(nproc)
echo "test.sh: building in $build"
# The toolchain comes from CMakeLists.txt.
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$jobs"

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
. tools/wine/env.sh
. tools/display.sh

# The namespaces of runs whose harness is gone (left by a run that was killed outright).
orphan_namespaces() {
  local ns owner
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    case $ns in tvk-*) ;; *) continue ;; esac
    owner=${ns#tvk-}
    owner=${owner%%x*}
    case $owner in ''|*[!0-9]*) continue ;; esac
    grep -qzF 'netns/run.sh' "/proc/$owner/cmdline" 2>/dev/null || echo "$ns"
  done | sort
}
# Wine's processes of this build: of build/wineprefix, or of a namespace run's prefix copy.
wine_leftovers() {
  local exe pid
  for exe in /proc/[0-9]*/exe; do
    case $(readlink "$exe" 2>/dev/null) in */wine*) ;; *) continue ;; esac
    pid=${exe#/proc/}
    pid=${pid%/exe}
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null |
      grep -qE "^(WINEPREFIX=$WINEPREFIX|TARVISKO_BINARY_DIR=$build)\$"; then
      echo "$pid"
    fi
  done
}
namespaces_before=$(orphan_namespaces)

# A display for the tests that open windows.
display_pid=""
busy_pids=()
cleanup() {
  local status=$? left
  trap - EXIT
  set +e
  [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null
  [ ${#busy_pids[@]} -gt 0 ] && kill "${busy_pids[@]}" 2>/dev/null
  wineserver -k 2>/dev/null
  for _ in $(seq 1 50); do
    [ -z "$(wine_leftovers)" ] && break
    sleep 0.2
  done
  left=$(wine_leftovers; comm -13 <(echo "$namespaces_before") <(orphan_namespaces))
  if [ -n "$left" ]; then
    echo "test.sh: FAILED: left running or not removed:" $left
    [ "$status" = 0 ] && status=1
  fi
  exit "$status"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  start_virtual_display 90 110 1600x1000x24 || { echo "test.sh: no free display number" >&2; exit 1; }
fi

# The prefix's persistent wineserver starts only now that the display is chosen: a wineserver and
# Wine's services started without one leave the tests' main windows without a driver, and their
# creation fails. A server that another script left running may lack the display as well, so this
# run starts its own (it stops it at the end in any case).
echo "test.sh: preparing the Wine prefix $WINEPREFIX"
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
tools/wine/prefix

if [ "${TARVISKO_TEST_BUSY:-}" = 1 ]; then
  echo "test.sh: keeping all $jobs cores busy during the run"
  for _ in $(seq 1 "$jobs"); do
    bash -c 'while :; do :; done' &
    busy_pids+=($!)
  done
fi

echo "test.sh: running the tests"
cd "$build"
ctest --output-on-failure -j "$jobs" "$@"
