#!/usr/bin/env bash
# Accuracy benchmark of the full diagnostics test (not a test; never run by CTest).
#
#   tools/bench/accuracy.sh [--rates "20 100 500"]        (as root)
#
# For each rate in Mbit/s it builds the namespace chain of tools/netns/with-node (client, one
# router whose two links are shaped with tbf at that rate, the simulated node, portal and upload
# server on the target), runs bench/runs/desktop_accuracy.exe there (the whole diagnostics test
# under Wine) while the target pings the client every 100 ms, and then, on the same path, iperf3
# in both directions, ping to the node at idle, and curl's HEAD of the node's latency URL on one
# kept-alive connection, once back to back and once spaced 150 ms apart as the program's own
# probes are (a connection that rests between requests answers more slowly than one kept busy,
# so only the spaced series compares like with like). It prints two tables:
#   rates:   the program's download and upload beside iperf3's, as ratios of the shaped rate and
#            of iperf3's;
#   latency: the program's idle median beside curl's kept-alive HEAD spaced as the probes and
#            back to back, and ping at idle, and its median under load (download and upload
#            phases) beside the median of the ping taken during those same phases, each as a ratio
#            (aims: idle within 1.5 x the spaced curl, loaded within 20 % of the concurrent ping).
# The namespaces' TCP congestion control (tools/netns/congestion.sh) is printed with the tables.
# Traffic never leaves the namespaces. Needs root, a build, iperf3, ping, curl and tc.
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
for tool in iperf3 ping curl tc python3 wine; do command -v $tool >/dev/null || fail "$tool missing"; done
exe=$build/bench/runs/desktop_accuracy.exe
[ -f "$exe" ] || fail "build first: cmake --build $build"
export TARVISKO_BINARY_DIR=$build

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvisko-accuracy.XXXXXX")
trap 'rm -rf "$work"' EXIT
node=10.200.1.2
client=10.200.0.1
origin=https://node.tarvisko.test:8443
ca=$build/test-ca/ca.pem

# After the program, in the client namespace: iperf3 both ways, ping at idle, then ten HEADs of
# the latency URL of the program's own run on one connection (curl reuses it between URLs; the
# first pays the handshakes and is left out), back to back and then one every 150 ms (--rate).
measure="echo \"\$TARVISKO_NETNS_CONGESTION\" >$work/congestion.txt;"
measure+=" iperf3 -c $node -t 4 -J -R >$work/down.json 2>/dev/null;"
measure+=" iperf3 -c $node -t 4 -J >$work/up.json 2>/dev/null;"
measure+=" ping -n -c 20 -i 0.2 $node >$work/ping.txt 2>&1;"
measure+=" curl -s --cacert $ca $origin/_sim/node/stats >$work/stats.json;"
measure+=" set -- \$(python3 -c 'import json,sys; s=json.load(open(sys.argv[1]))[\"sessions\"];"
measure+=" k=next(iter(s)); print(k, s[k][\"ticket\"])' $work/stats.json);"
measure+=" urls=; for i in 1 2 3 4 5 6 7 8 9 10 11; do urls=\"\$urls -o /dev/null $origin/measure/v1/runs/\$1/latency\"; done;"
measure+=" curl -s -I --cacert $ca -H \"Authorization: Bearer \$2\" -w '%{time_total}\n' \$urls >$work/curl.txt;"
measure+=" curl -s -I --rate 400/m --cacert $ca -H \"Authorization: Bearer \$2\" -w '%{time_total}\n' \$urls >$work/curl-spaced.txt; true"

rate_table="$work/rates.txt"
latency_table="$work/latency.txt"
printf '%-6s %-6s %9s %6s %9s %6s %6s   %9s %6s %9s %6s %6s  %s\n' \
  shaped "" download shaped iperf3 shaped ratio upload shaped iperf3 shaped ratio state >"$rate_table"
printf '%-6s %8s %9s %6s %8s %6s %8s   %9s %8s %6s\n' \
  shaped "idle ms" "spaced ms" ratio "b2b ms" ratio "ping ms" "loaded ms" "ping ms" ratio >"$latency_table"
for rate in $rates; do
  burst=$(( rate * 1000000 / 8 / 100 ))
  [ "$burst" -lt 131072 ] && burst=131072
  rm -f "$work"/*.json "$work"/*.txt.run "$work"/ping*.txt "$work"/curl*.txt "$work"/program.txt
  "$top/tools/netns/with-node" --shape "rate ${rate}mbit burst $burst latency 20ms" --iperf \
    --target-also "ping -D -n -i 0.1 $client >$work/ping-load.txt 2>&1" \
    --client-command "$measure" -- "$exe" "$rate" >"$work/program.txt" 2>"$work/stderr.txt" ||
    { cat "$work/stderr.txt" >&2; tr -d '\r' <"$work/program.txt" >&2; fail "run at $rate Mbit/s failed"; }
  python3 - "$rate" "$work" "$rate_table" "$latency_table" <<'PY'
import json, re, statistics, sys
rate, work, rate_table, latency_table = float(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
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
def median(values):
    return statistics.median(values) if values else 0.0
def ratio(a, b):
    return "%6.2f" % (a / b) if b else "     -"
down, up = iperf("down.json"), iperf("up.json")
idle_ping = median([float(m) for m in re.findall(r"time=([\d.]+) ms", open(work + "/ping.txt").read())])
def curl_series(name):
    try:
        return [float(t) * 1000 for t in open(work + "/" + name).read().split()][1:]
    except (OSError, ValueError):
        return []
curl_ms = median(curl_series("curl.txt"))
spaced_ms = median(curl_series("curl-spaced.txt"))
# The ping taken from the target every 100 ms, within the program's download and upload phases.
at = program.get("phase_at", {})
start, end = at.get("download"), at.get("recovery")
loaded_ping = []
try:
    for line in open(work + "/ping-load.txt"):
        m = re.match(r"\[([\d.]+)\].*time=([\d.]+) ms", line)
        if m and start is not None and end is not None and start <= float(m.group(1)) < end:
            loaded_ping.append(float(m.group(2)))
except OSError:
    pass
loaded_ping_ms = median(loaded_ping)
pd, pu = program.get("download_mbps", 0.0), program.get("upload_mbps", 0.0)
idle, loaded = program.get("idle_ms", 0.0), program.get("loaded_ms", 0.0)
with open(rate_table, "a") as out:
    out.write("%-6s %-6s %9.1f %s %9.1f %s %s   %9.1f %s %9.1f %s %s  %s\n" % (
        "%g" % rate, "Mbit/s", pd, ratio(pd, rate), down, ratio(down, rate), ratio(pd, down),
        pu, ratio(pu, rate), up, ratio(up, rate), ratio(pu, up),
        program.get("state") or program.get("error")))
with open(latency_table, "a") as out:
    out.write("%-6s %8.2f %9.2f %s %8.2f %s %8.2f   %9.2f %8.2f %s  (%d pings under load)\n" % (
        "%g" % rate, idle, spaced_ms, ratio(idle, spaced_ms), curl_ms, ratio(idle, curl_ms),
        idle_ping, loaded, loaded_ping_ms, ratio(loaded, loaded_ping_ms), len(loaded_ping)))
PY
done
echo "TCP congestion control in the namespaces: $(cat "$work/congestion.txt" 2>/dev/null || echo unknown)"
cat "$rate_table"
echo "shaped: the rate's ratio to the tbf rate; ratio: program / iperf3"
echo
cat "$latency_table"
echo "idle: the program's median at idle / curl's HEAD on a kept-alive connection, spaced 150 ms"
echo "apart as the probes are (aim: at most 1.5), and back to back (b2b);"
echo "loaded: the program's median in its download and upload phases / ping's median over the same"
echo "phases (aim: 0.8 to 1.2); ping ms at idle is ping to the node after the run"
