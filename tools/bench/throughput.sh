#!/usr/bin/env bash
# Throughput benchmark of the program's transfer code (not a test; never run by CTest).
#
#   sudo tools/bench/throughput.sh [--rates "50 200 1000"] [--seconds 4]
#
# Builds a veth pair between two network namespaces of its own (client 10.201.0.1, node
# 10.201.0.2), shapes both directions with tc tbf at each rate in Mbit/s, and runs there:
#   - the provider simulator as the measurement node (node namespace, https://localhost:PORT with
#     "localhost" mapped to the node address in the client namespace's hosts file);
#   - bench/throughput/transfer_bench.exe under Wine (client namespace, a private copy of the Wine
#     prefix whose wineserver runs in that namespace): a whole and a windowed download and upload,
#     paced at the shaped rate;
#   - Debian's iperf3 over the same link, both directions, for comparison.
# Then the same transfers over plain loopback with no shaping (host namespace, the build's prefix).
# It prints, per rate and transfer, the program's rate, iperf3's rate, both as a ratio of the
# shaped rate, and the program's CPU seconds per GB moved (the Wine process; in the namespace runs
# also its wineserver). Traffic never leaves the two namespaces and the host's loopback.
# Needs root, a build (cmake --build build), iperf3, tc and curl. Everything it made is removed on
# every exit path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$top/tools/wine/env.sh"
. "$top/tools/netns/congestion.sh"
build=${TARVISKO_BUILD_DIR:-$top/build}
rates="50 200 1000"
seconds=4
while [ $# -gt 0 ]; do
  case $1 in
    --rates) rates=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    *) echo "usage: $0 [--rates \"50 200 1000\"] [--seconds N]" >&2; exit 2 ;;
  esac
done
fail() { echo "throughput: $*" >&2; exit 2; }
[ "$(id -u)" = 0 ] || fail "network namespaces need root"
for tool in iperf3 tc curl python3 wine; do command -v $tool >/dev/null || fail "$tool missing"; done
exe=$build/bench/throughput/transfer_bench.exe
[ -f "$exe" ] || fail "build first: cmake --build $build --target transfer_bench"

ca=$build/test-ca
base_prefix=$build/wineprefix
"$top/tools/simulator/make-ca" "$ca"
WINEPREFIX=$base_prefix "$top/tools/wine/prefix" >/dev/null
WINEPREFIX=$base_prefix TARVISKO_CA_DIR=$ca TARVISKO_WINESERVER_RUNNING=1 \
  "$top/tools/wine/prefix.d/50-test-ca" >/dev/null

# Leftovers of a run that was killed outright carry its process id: remove those whose run is gone.
for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
  case $ns in tvb-*) ;; *) continue ;; esac
  owner=${ns#tvb-}
  owner=${owner%%-*}
  grep -qzF 'bench/throughput.sh' "/proc/$owner/cmdline" 2>/dev/null && continue
  for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "/etc/netns/$ns"
done

id=$$
client=tvb-$id-c
node=tvb-$id-n
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvisko-bench.XXXXXX")
prefix=$work/prefix
pids=()
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  if [ -e "/run/netns/$client" ] && [ -d "$prefix" ]; then
    ip netns exec "$client" env WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
  fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for ns in "$client" "$node"; do
    if [ -e "/run/netns/$ns" ]; then
      for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
      ip netns del "$ns"
    fi
    rm -rf "/etc/netns/$ns"
  done
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The link.
ip netns add "$client"
ip netns add "$node"
ip -n "$client" link set lo up
ip -n "$node" link set lo up
ip -n "$client" link add c0 type veth peer name n0 netns "$node"
ip -n "$client" addr add 10.201.0.1/24 dev c0
ip -n "$node" addr add 10.201.0.2/24 dev n0
ip -n "$client" link set c0 up
ip -n "$node" link set n0 up
congestion=$(set_congestion_control "$client" "$node") || fail "cannot set the congestion control"
mkdir -p "/etc/netns/$client"
printf 'nameserver 127.0.0.1\n' >"/etc/netns/$client/resolv.conf"
printf '10.201.0.2 localhost\n' >"/etc/netns/$client/hosts"

# Starts the simulator (node module) with the arguments given; prints its port.
start_simulator() {
  local out=$work/simulator.$RANDOM
  "$@" python3 "$top/tools/simulator/simulator.py" --cert "$ca/server.pem" --key "$ca/server.key" \
    --modules node --parent-pid $$ "${listen[@]}" >"$out" 2>"$out.err" </dev/null &
  pids+=($!)
  for _ in $(seq 100); do
    if grep -q '^SIMULATOR_PORT=' "$out" 2>/dev/null; then
      sed -n 's/^SIMULATOR_PORT=//p' "$out"
      return
    fi
    sleep 0.1
  done
  cat "$out.err" >&2
  fail "the simulator did not start"
}
listen=(--listen 10.201.0.2)
ns_port=$(start_simulator ip netns exec "$node")
listen=()
lo_port=$(start_simulator env)
ip netns exec "$node" iperf3 -s -B 10.201.0.2 >/dev/null 2>&1 </dev/null &
pids+=($!)

# Wine in the client namespace: a private prefix copy with its own wineserver there.
"$top/tools/wine/copy-prefix" "$base_prefix" "$prefix" || fail "cannot copy the Wine prefix"
in_client() { ip netns exec "$client" env WINEPREFIX="$prefix" WINEDEBUG=-all "$@"; }
in_client wineserver -p </dev/null >/dev/null 2>&1 || fail "cannot start wineserver in $client"
in_client wine wineboot </dev/null >/dev/null 2>&1 || true
"$top/tools/netns/check-wineserver" "$prefix" "$client" || fail "wineserver outside $client"
wineserver_pid() {
  local pid
  for pid in $(ip netns pids "$client"); do
    case $(readlink "/proc/$pid/exe" 2>/dev/null) in */wineserver*) echo "$pid"; return ;; esac
  done
}
cpu_of() {  # CPU seconds of a process so far
  [ -n "$1" ] && [ -r "/proc/$1/stat" ] || { echo 0; return; }
  awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"
}

configure() {  # where port profile-json
  local where=$1 port=$2 profile=$3
  local resolve=()
  [ "$where" = ns ] && resolve=(--resolve "localhost:$port:10.201.0.2")
  local run=()
  [ "$where" = ns ] && run=(ip netns exec "$client")
  "${run[@]}" curl -sf --cacert "$ca/ca.pem" "${resolve[@]}" -X POST \
    "https://localhost:$port/_sim/node/config" -d "{\"profile\":$profile}" >/dev/null ||
    fail "cannot configure the simulator"
}

# One transfer; prints "mbps cpu_s_per_gb status".
transfer() {  # where port direction
  local where=$1 port=$2 direction=$3 line server before after
  if [ "$where" = ns ]; then
    server=$(wineserver_pid)
    before=$(cpu_of "$server")
    line=$(in_client wine "$exe" "https://localhost:$port" "$direction" 2>/dev/null | tr -d '\r' | tail -1) || true
    after=$(cpu_of "$server")
  else
    before=0
    after=0
    line=$(WINEPREFIX=$base_prefix "$top/tools/wine/run-test" "$exe" "https://localhost:$port" "$direction" 2>/dev/null | tr -d '\r' | tail -1) || true
  fi
  python3 -c '
import json, sys
line, server_cpu = sys.argv[1], float(sys.argv[2])
try:
    r = json.loads(line)
except ValueError:
    r = {"error": line or "no output"}
if "error" in r or not r.get("client_bytes"):
    print("0 0 0", r.get("error") or r.get("reason"))
else:
    gb = r["client_bytes"] / 1e9
    print("%.1f %.2f %.2f %s" % (r["mbps"], r["cpu_s"] / gb, server_cpu / gb,
                                 r["status"] if r["status"] == "ok" else r["reason"]))
' "$line" "$(python3 -c "print($after - $before)")"
}

iperf() {  # extra-args -> Mbit/s
  ip netns exec "$client" iperf3 -c 10.201.0.2 -t "$seconds" -J "$@" 2>/dev/null |
    python3 -c 'import json,sys
try: print("%.1f" % (json.load(sys.stdin)["end"]["sum_received"]["bits_per_second"] / 1e6))
except Exception: print("0")'
}

ratio() { python3 -c "print('%.2f' % ($1 / $2) if $2 else '-')"; }

echo "TCP congestion control in the namespaces: $congestion (the loopback rows: the host's, $(sysctl -n net.ipv4.tcp_congestion_control))"
printf '%-9s %-18s %12s %6s %12s %6s %10s %10s  %s\n' rate transfer "program" ratio iperf3 ratio \
  "cpu s/GB" "server s/GB" status
for rate in $rates; do
  burst=$(( rate * 1000000 / 8 / 100 ))
  [ "$burst" -lt 131072 ] && burst=131072
  ip netns exec "$client" tc qdisc replace dev c0 root tbf rate "${rate}mbit" burst "$burst" latency 20ms
  ip netns exec "$node" tc qdisc replace dev n0 root tbf rate "${rate}mbit" burst "$burst" latency 20ms
  bps=$(( rate * 1000000 ))
  whole_bytes=$(( bps / 8 * seconds ))
  [ "$whole_bytes" -gt 67108864 ] && whole_bytes=67108864
  iperf_down=$(iperf -R)
  iperf_up=$(iperf)
  for mode in whole windowed; do
    if [ $mode = whole ]; then
      profile="{\"mode\":\"whole\",\"bytes\":$whole_bytes,\"rate_bps\":$bps,\"deadline_s\":60}"
    else
      profile="{\"mode\":\"windowed\",\"bytes\":536870912,\"rate_bps\":$bps,\"deadline_s\":60,\"window_ms\":$(( seconds * 1000 )),\"streams\":4}"
    fi
    configure ns "$ns_port" "$profile"
    for direction in download upload; do
      read -r mbps cpu server status <<<"$(transfer ns "$ns_port" $direction)"
      ip=$iperf_up
      [ $direction = download ] && ip=$iperf_down
      printf '%-9s %-18s %12s %6s %12s %6s %10s %10s  %s\n' "${rate}M" "$mode $direction" "$mbps" \
        "$(ratio "$mbps" "$rate")" "$ip" "$(ratio "$ip" "$rate")" "$cpu" "$server" "$status"
    done
  done
done

for mode in whole windowed; do
  if [ $mode = whole ]; then
    profile='{"mode":"whole","bytes":67108864,"rate_bps":4000000000,"deadline_s":60}'
  else
    profile="{\"mode\":\"windowed\",\"bytes\":536870912,\"rate_bps\":4000000000,\"deadline_s\":60,\"window_ms\":$(( seconds * 1000 )),\"streams\":4}"
  fi
  configure lo "$lo_port" "$profile"
  for direction in download upload; do
    read -r mbps cpu server status <<<"$(transfer lo "$lo_port" $direction)"
    printf '%-9s %-18s %12s %6s %12s %6s %10s %10s  %s\n' loopback "$mode $direction" "$mbps" - - - \
      "$cpu" - "$status"
  done
done
