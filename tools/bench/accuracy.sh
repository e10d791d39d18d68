#!/usr/bin/env bash
# Accuracy benchmark of the full diagnostics test (not a test; never run by CTest).
#
#   sudo tools/bench/accuracy.sh [--rates "20 100 500"]
#
# For each rate in Mbit/s it builds the namespace chain of tools/netns/with-node (client, one
# router whose two links are shaped with tbf at that rate, the simulated node, portal and upload
# server on the target), runs bench/runs/desktop_accuracy.exe there (the whole diagnostics test
# under Wine) and then, on the same path, iperf3 in both directions and ping to the node. It
# prints the program's download, upload and idle latency beside iperf3's rates and ping's RTT, and
# each rate as a ratio of the shaped rate and of iperf3's. Traffic never leaves the namespaces.
# Needs root, a build (cmake --build build), iperf3, ping and tc.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${TARVISKO_BUILD_DIR:-$top/build}
rates="20 100 500"
while [ $# -gt 0 ]; do
  case $1 in
    --rates) rates=$2; shift 2 ;;
    *) echo "usage: $0 [--rates \"20 100 500\"]" >&2; exit 2 ;;
  esac
done
fail() { echo "accuracy: $*" >&2; exit 2; }
[ "$(id -u)" = 0 ] || fail "network namespaces need root"
for tool in iperf3 ping tc python3 wine; do command -v $tool >/dev/null || fail "$tool missing"; done
exe=$build/bench/runs/desktop_accuracy.exe
[ -f "$exe" ] || fail "build first: cmake --build $build --target desktop_accuracy"
export TARVISKO_BINARY_DIR=$build

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvisko-accuracy.XXXXXX")
trap 'rm -rf "$work"' EXIT
node=10.200.1.2

printf '%-6s %-9s %9s %6s %9s %6s %6s   %-9s %9s %6s %9s %6s %6s   %8s %8s %6s  %s\n' \
  shaped "" download shaped iperf3 shaped ratio "" upload shaped iperf3 shaped ratio \
  "idle ms" "ping ms" ratio state
for rate in $rates; do
  burst=$(( rate * 1000000 / 8 / 100 ))
  [ "$burst" -lt 131072 ] && burst=131072
  rm -f "$work"/*
  measure="iperf3 -c $node -t 4 -J -R >$work/down.json 2>/dev/null;"
  measure+=" iperf3 -c $node -t 4 -J >$work/up.json 2>/dev/null;"
  measure+=" ping -n -c 20 -i 0.2 $node >$work/ping.txt 2>&1; true"
  "$top/tools/netns/with-node" --shape "rate ${rate}mbit burst $burst latency 20ms" --iperf \
    --client-command "$measure" -- "$exe" "$rate" >"$work/program.txt" 2>"$work/stderr.txt" ||
    { cat "$work/stderr.txt" >&2; tr -d '\r' <"$work/program.txt" >&2; fail "run at $rate Mbit/s failed"; }
  python3 - "$rate" "$work" <<'PY'
import json, re, sys
rate, work = float(sys.argv[1]), sys.argv[2]
program = {}
for line in open(work + "/program.txt", encoding="utf-8", errors="replace"):
    line = line.strip()
    if line.startswith("{"):
        program = json.loads(line)
def iperf(name):
    try:
        return json.load(open(work + "/" + name))["end"]["sum_received"]["bits_per_second"] / 1e6
    except (OSError, ValueError, KeyError):
        return 0.0
down, up = iperf("down.json"), iperf("up.json")
match = re.search(r"= [\d.]+/([\d.]+)/", open(work + "/ping.txt").read())
ping = float(match.group(1)) if match else 0.0
def ratio(a, b):
    return "%6.2f" % (a / b) if b else "     -"
pd, pu, idle = program.get("download_mbps", 0.0), program.get("upload_mbps", 0.0), program.get("idle_ms", 0.0)
print("%-6s %-9s %9.1f %s %9.1f %s %s   %-9s %9.1f %s %9.1f %s %s   %8.2f %8.2f %s  %s" % (
    "%g" % rate, "Mbit/s", pd, ratio(pd, rate), down, ratio(down, rate), ratio(pd, down),
    "", pu, ratio(pu, rate), up, ratio(up, rate), ratio(pu, up),
    idle, ping, ratio(idle, ping), program.get("state") or program.get("error")))
PY
done
echo "shaped: the rate's ratio to the tbf rate; ratio: program / iperf3 (rates), program / ping (latency)"
