#!/usr/bin/env bash
# The namespace harness: it refuses a wineserver outside the test's namespace, passes the test's
# exit status through, gives the ends a loss-based congestion control, and leaves nothing behind,
# also when it is interrupted: no namespace, no Wine process of its prefix copy, no copy, and no
# wineserver of the project's prefix that could no longer be reached (one started under a TMPDIR
# that is later deleted cannot be stopped).
set -euo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
run=$top/tools/netns/run.sh
check=$top/tools/netns/check-wineserver
. "$top/tools/wine/env.sh"
export TARVISKO_BINARY_DIR=${TARVISKO_BINARY_DIR:?}
base_prefix=$TARVISKO_BINARY_DIR/wineprefix
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

scratch=$(mktemp -d)
own_ns="tvk-harness-$$"
host_prefix=$scratch/host-prefix
cleanup() {
  ip netns del "$own_ns" 2>/dev/null || true
  # Stopped while its folder still exists, with the TMPDIR it was started under.
  if [ -f "$host_prefix/wineserver" ]; then
    WINEPREFIX=$host_prefix wineserver -k 2>/dev/null || true
    case $(cat "$host_prefix/wineserver") in wine-?*) rm -rf "${TMPDIR:-/tmp}/$(cat "$host_prefix/wineserver")" ;; esac
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# What a run may leave: its namespaces (by run id) and the Wine processes of its prefix copy (by
# the WINEPREFIX they carry), one per line.
namespaces_of() { ip netns list | awk '{print $1}' | grep "^$1-" || true; }
processes_in() {
  local environ
  for environ in /proc/[0-9]*/environ; do
    if tr '\0' '\n' <"$environ" 2>/dev/null | grep -q "^WINEPREFIX=$1"; then
      environ=${environ#/proc/}
      echo "${environ%/environ}"
    fi
  done
}
# Every wineserver of the project's prefix can still be reached: its server folder exists.
assert_base_servers_reachable() {
  local pid
  for pid in $(wine_servers_of "$base_prefix"); do
    if [ ! -d "/proc/$pid/cwd/" ]; then
      fail "$1: wineserver $pid of $base_prefix lost its folder ($(readlink "/proc/$pid/cwd"))"
    fi
  done
}
# Leaves nothing: no namespace, no resolver files, no prefix copy, no process of the run.
assert_gone() {
  local id=$1 work=$2 what=$3
  [ -z "$(namespaces_of "$id")" ] || fail "$what: namespaces remain: $(namespaces_of "$id")"
  if compgen -G "/etc/netns/$id-*" >/dev/null; then fail "$what: /etc/netns/$id-* remains"; fi
  [ ! -e "$work" ] || fail "$what: prefix copy $work remains"
  [ -z "$(processes_in "$work")" ] || fail "$what: Wine processes remain: $(processes_in "$work")"
  assert_base_servers_reachable "$what"
}
wine_in() {
  local pid
  for pid in $(ip netns pids "$1" 2>/dev/null); do
    case $(readlink "/proc/$pid/exe" 2>/dev/null) in */wine*) return 0 ;; esac
  done
  return 1
}
run_id_of() { sed -n 's/^netns: namespaces \(tvk-[^*]*\)-\*, files in .*$/\1/p' "$1" | head -n1; }
work_of() { sed -n 's/^netns: namespaces tvk-[^*]*-\*, files in \(.*\)$/\1/p' "$1" | head -n1; }
base_servers_before=$(wine_servers_of "$base_prefix")

# 1. A wineserver in the host's namespace is refused, and so is a prefix without one. The host
#    server belongs to a copy of the prefix, so that this test stops it again itself.
WINEPREFIX=$base_prefix "$top/tools/wine/prefix" --no-server >/dev/null
"$top/tools/wine/copy-prefix" "$base_prefix" "$host_prefix"
WINEPREFIX=$host_prefix wineserver -p </dev/null >/dev/null 2>&1
ip netns add "$own_ns"
if "$check" "$host_prefix" "$own_ns" 2>"$scratch/refusal"; then
  fail "a wineserver outside the namespace was accepted"
elif ! grep -q 'refusing to run' "$scratch/refusal"; then
  fail "refusal without reason: $(cat "$scratch/refusal")"
fi
mkdir "$scratch/empty-prefix"
if "$check" "$scratch/empty-prefix" "$own_ns" 2>/dev/null; then
  fail "a prefix without wineserver was accepted"
fi
if "$check" "$host_prefix" "tvk-no-such-namespace-$$" 2>/dev/null; then
  fail "a missing namespace was accepted"
fi

# 2. The test's exit status comes back, and everything is removed afterwards.
set +e
"$run" --routers 3 -- cmd /c exit 7 2>"$scratch/exit.log"
status=$?
set -e
[ "$status" = 7 ] || fail "exit status $status instead of 7: $(cat "$scratch/exit.log")"
id=$(run_id_of "$scratch/exit.log")
work=$(work_of "$scratch/exit.log")
[ -n "$id" ] && [ -n "$work" ] || fail "no run id or folder printed: $(head -n1 "$scratch/exit.log")"
assert_gone "$id" "$work" "after exit"

# The client's TCP congestion control is loss-based (as on Windows), never the host's BBR, and
# the test is told which one it got.
"$run" --client-command "sysctl -n net.ipv4.tcp_congestion_control >$scratch/congestion;
  echo \"\$TARVISKO_NETNS_CONGESTION\" >>$scratch/congestion" -- cmd /c exit 0 2>/dev/null ||
  fail "a run with a client command failed"
case $(tr '\n' ' ' <"$scratch/congestion" 2>/dev/null) in
  "cubic cubic " | "reno reno ") ;;
  *) fail "congestion control in the client and as told: $(cat "$scratch/congestion" 2>/dev/null)" ;;
esac

# 3. Bad options are an error, never a skip.
if "$run" --routers 0 -- cmd /c exit 0 2>/dev/null; then fail "--routers 0 accepted"; fi
if "$run" --routers 2 --blackhole-at 3 -- cmd /c exit 0 2>/dev/null; then
  fail "--blackhole-at beyond the last router accepted"
fi

marker=299.$$
# 4. Interrupted while the test and a target command run: everything goes.
"$run" --routers 1 --target-command "sleep $marker" -- \
  cmd /c "ping -n 120 127.0.0.1 >nul" 2>"$scratch/term.log" &
runner=$!
id=""
start=$SECONDS
for _ in $(seq 1 100); do
  id=$(run_id_of "$scratch/term.log")
  # Wait until the test itself runs in the client namespace.
  if [ -n "$id" ] && wine_in "$id-c"; then break; fi
  sleep 0.2
done
[ -n "$id" ] || fail "interrupted run printed no id"
work=$(work_of "$scratch/term.log")
echo "test running after $((SECONDS - start)) s"
sleep 1
# While it runs, the listings see what it made, so their emptiness afterwards means something.
echo "during the run: namespaces" $(namespaces_of "$id") "; Wine processes" $(processes_in "$work")
[ "$(namespaces_of "$id" | wc -l)" = 3 ] || fail "the running test's namespaces are not listed"
[ -n "$(processes_in "$work")" ] || fail "the running test's Wine processes are not listed"
kill -TERM "$runner"
set +e
wait "$runner"
status=$?
set -e
[ "$status" = 143 ] || fail "interrupted run ended with $status instead of 143"
sleep 0.5
if pgrep -f "sleep $marker" >/dev/null; then fail "the target command survived"; fi
assert_gone "$id" "$work" "after TERM"
echo "after the runs: namespaces" $(namespaces_of "$id") "; Wine processes" $(processes_in "$work")
# The runs started no server for the project's prefix (they only copy it).
[ "$(wine_servers_of "$base_prefix")" = "$base_servers_before" ] ||
  fail "the runs changed the servers of $base_prefix: '$base_servers_before' -> '$(wine_servers_of "$base_prefix")'"

if [ "$failures" -gt 0 ]; then
  echo "$failures harness check(s) failed" >&2
  exit 1
fi
echo "netns harness: all checks passed"
