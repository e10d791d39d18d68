#!/usr/bin/env bash
# The namespace harness: it refuses a wineserver outside the test's namespace, passes the test's
# exit status through, and leaves nothing behind, also when it is interrupted.
set -euo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
run=$top/tools/netns/run.sh
check=$top/tools/netns/check-wineserver
export TARVISKO_BINARY_DIR=${TARVISKO_BINARY_DIR:?}
base_prefix=$TARVISKO_BINARY_DIR/wineprefix
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

scratch=$(mktemp -d)
own_ns="tvk-harness-$$"
cleanup() {
  ip netns del "$own_ns" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# Leaves nothing: no namespace, no resolver files, no prefix copy, no process of the run.
assert_gone() {
  local id=$1 what=$2
  if ip netns list | grep -q "^$id-"; then fail "$what: namespaces $id-* remain"; fi
  if compgen -G "/etc/netns/$id-*" >/dev/null; then fail "$what: /etc/netns/$id-* remains"; fi
  if compgen -G "$scratch/tmp/tarvisko-netns.*" >/dev/null; then fail "$what: prefix copy remains"; fi
}
wine_in() {
  local pid
  for pid in $(ip netns pids "$1" 2>/dev/null); do
    case $(readlink "/proc/$pid/exe" 2>/dev/null) in */wine*) return 0 ;; esac
  done
  return 1
}
run_id_of() { sed -n 's/^netns: namespaces \(tvk-[^*]*\)-\*$/\1/p' "$1" | head -n1; }

# 1. A wineserver in the host's namespace is refused, and so is a prefix without one.
WINEPREFIX=$base_prefix "$top/tools/wine/prefix" >/dev/null
ip netns add "$own_ns"
if "$check" "$base_prefix" "$own_ns" 2>"$scratch/refusal"; then
  fail "a wineserver outside the namespace was accepted"
elif ! grep -q 'refusing to run' "$scratch/refusal"; then
  fail "refusal without reason: $(cat "$scratch/refusal")"
fi
mkdir "$scratch/empty-prefix"
if "$check" "$scratch/empty-prefix" "$own_ns" 2>/dev/null; then
  fail "a prefix without wineserver was accepted"
fi
if "$check" "$base_prefix" "tvk-no-such-namespace-$$" 2>/dev/null; then
  fail "a missing namespace was accepted"
fi

# 2. The test's exit status comes back, and everything is removed afterwards.
mkdir "$scratch/tmp"
set +e
TMPDIR=$scratch/tmp "$run" --routers 3 -- cmd /c exit 7 2>"$scratch/exit.log"
status=$?
set -e
[ "$status" = 7 ] || fail "exit status $status instead of 7: $(cat "$scratch/exit.log")"
id=$(run_id_of "$scratch/exit.log")
[ -n "$id" ] || fail "no run id printed"
assert_gone "$id" "after exit"

# 3. Bad options are an error, never a skip.
if "$run" --routers 0 -- cmd /c exit 0 2>/dev/null; then fail "--routers 0 accepted"; fi
if "$run" --routers 2 --blackhole-at 3 -- cmd /c exit 0 2>/dev/null; then
  fail "--blackhole-at beyond the last router accepted"
fi

marker=299.$$
# 4. Interrupted while the test and a target command run: everything goes.
TMPDIR=$scratch/tmp "$run" --routers 1 --target-command "sleep $marker" -- \
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
echo "test running after $((SECONDS - start)) s"
sleep 1
kill -TERM "$runner"
set +e
wait "$runner"
status=$?
set -e
[ "$status" = 143 ] || fail "interrupted run ended with $status instead of 143"
sleep 0.5
if pgrep -f "sleep $marker" >/dev/null; then fail "the target command survived"; fi
assert_gone "$id" "after TERM"

if [ "$failures" -gt 0 ]; then
  echo "$failures harness check(s) failed" >&2
  exit 1
fi
echo "netns harness: all checks passed"
