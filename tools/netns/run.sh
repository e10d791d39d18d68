#!/usr/bin/env bash
# Runs one Windows test executable under Wine inside a private multi-hop network made of network
# namespaces, then removes everything it made. Needs root (CI runs as root).
#
# Usage:
#   tools/netns/run.sh [--routers N] [--blackhole-at K] [--unreachable-at K] [--silent-at K]
#                      [--target-address ADDR] [--hosts-entry "ADDR NAME"]...
#                      [--target-command CMD] [--client-command CMD] [--shape TBF]
#                      [--] test.exe [arguments...]
#
#   --routers N          routers between client and target (default 1, at most 50)
#   --blackhole-at K     router (1..N) that silently drops TARVISKO_NETNS_BLACKHOLE (default N)
#   --unreachable-at K   router (1..N) that answers TARVISKO_NETNS_UNREACHABLE with ICMP host
#                        unreachable (default N)
#   --silent-at K        router (1..N) that forwards but sends no ICMP of its own (its locally
#                        made ICMP is routed into a blackhole): a hop that never answers
#   --target-address A   one more IPv4 address on the target's loopback, routed to the target by
#                        every router (for example a public address that exists only in here)
#   --hosts-entry "A N"  a line for the client's hosts file (repeatable): name N resolves to A
#   --target-command CMD shell command started in the background in the target namespace before
#                        the test (a listener, a server); it is ended when the test ends
#   --client-command CMD shell command run in the client namespace, with the test's environment,
#                        after the test executable ended successfully and before anything is
#                        removed (for example other tools on the same network); its failure fails
#                        the run
#   --shape TBF          a tbf qdisc with these arguments (e.g. "rate 50mbit burst 64kb latency
#                        200ms") on both links of router 1, toward the client and toward the
#                        target: the bottleneck of the path, where a queue builds under load
#
# Topology (names unique per run; nothing is attached to the host's own network):
#
#   client --link 0-- r1 --link 1-- r2 ... rN --link N-- target
#
#   link k joins node k (client = 0, routers 1..N) and node k+1 (target = N+1) with a veth pair:
#   10.200.k.1/24 and fd00:200:k::1/64 on the client side, 10.200.k.2/24 and fd00:200:k::2/64 on
#   the target side (k written as a hexadecimal group; the exported texts are canonical, e.g.
#   fd00:200::1 for link 0). The client's default route leads through r1, the target's through
#   rN; every router routes the links on the client's side back toward the client and everything
#   else toward the target (the last router only knows its own links and the two special routes
#   below). Routers send ICMP errors without rate limit. Each namespace has its loopback up. The
#   client's resolver is 127.0.0.1 (nothing listens there) and its hosts file knows only
#   "localhost", so a test can never resolve a name outside.
#
# Environment of the test:
#   TARVISKO_NETNS_ROUTERS        N
#   TARVISKO_NETNS_CLIENT         10.200.0.1            (TARVISKO_NETNS_CLIENT6 fd00:200::1)
#   TARVISKO_NETNS_ROUTER<k>      address of router k facing the client, 10.200.(k-1).2; router k
#                                 answers a TTL of k with "time exceeded" from this address
#                                 (TARVISKO_NETNS_ROUTER<k>_6 fd00:200:(k-1)::2)
#   TARVISKO_NETNS_TARGET         10.200.N.2            (TARVISKO_NETNS_TARGET6 fd00:200:N::2)
#   TARVISKO_NETNS_BLACKHOLE      10.250.0.1, dropped without reply at router --blackhole-at
#   TARVISKO_NETNS_UNREACHABLE    10.250.0.2, router --unreachable-at answers ICMP host unreachable
#                                 (after about 50 ms, as a real router that gets no ARP answer)
#   (IPv6 has no blackholed or unreachable address.)
#   TARVISKO_NETNS_TARGET_ADDRESS the --target-address, when given
#   TARVISKO_NETNS_CLIENT_NS, TARVISKO_NETNS_TARGET_NS   namespace names (for messages)
#   TARVISKO_NETNS_CONGESTION     the TCP congestion control of client and target: "cubic" where
#                                 the kernel lets a namespace choose it, else "reno" (never the
#                                 host's default, which may be BBR and never fill a queue)
#   WINEPREFIX                    the private prefix of this run
#
# Wine: a copy of the project's ready prefix ($TARVISKO_BINARY_DIR/wineprefix, created through
# tools/wine/prefix when missing) gets a wineserver of its own started inside the client
# namespace. Wine sends ICMP from processes that live with its wineserver, so before the test runs
# the script checks that the wineserver of that prefix, and every process using the prefix, is in
# the client namespace (/proc/PID/ns/net), and refuses to run otherwise.
#
# It prints one line to stderr first, "netns: namespaces tvk-ID-*, files in FOLDER", naming the
# run and the folder of its prefix copy.
# Exit status: the test's, or 2 when the network or Wine could not be set up (never a silent skip).
# Everything (namespaces, processes, the prefix copy) is removed on every exit path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$top/tools/wine/env.sh"
. "$here/congestion.sh"

routers=1
blackhole_at=""
unreachable_at=""
target_command=""
client_command=""
silent_at=""
target_address=""
hosts_entries=()
shape=""
while [ $# -gt 0 ]; do
  case $1 in
    --routers) routers=$2; shift 2 ;;
    --blackhole-at) blackhole_at=$2; shift 2 ;;
    --unreachable-at) unreachable_at=$2; shift 2 ;;
    --silent-at) silent_at=$2; shift 2 ;;
    --target-address) target_address=$2; shift 2 ;;
    --hosts-entry) hosts_entries+=("$2"); shift 2 ;;
    --target-command) target_command=$2; shift 2 ;;
    --client-command) client_command=$2; shift 2 ;;
    --shape) shape=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "netns: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "netns: no test executable given" >&2; exit 2; }
fail() { echo "netns: $*" >&2; exit 2; }
case $routers in ''|*[!0-9]*) fail "--routers needs a number" ;; esac
[ "$routers" -ge 1 ] && [ "$routers" -le 50 ] || fail "--routers must be 1 to 50"
blackhole_at=${blackhole_at:-$routers}
unreachable_at=${unreachable_at:-$routers}
for k in "$blackhole_at" "$unreachable_at" ${silent_at:+"$silent_at"}; do
  case $k in ''|*[!0-9]*) fail "router numbers must be numbers" ;; esac
  [ "$k" -ge 1 ] && [ "$k" -le "$routers" ] || fail "router number $k outside 1..$routers"
done
[ "$(id -u)" = 0 ] || fail "network namespaces need root"

exe=$1
shift
base_prefix=${TARVISKO_BINARY_DIR:-$top/build}/wineprefix

# Leftovers of runs that were killed outright (SIGKILL, e.g. a CTest time-out) carry the id of
# their script in their names; remove those whose script is gone.
script_alive() {
  grep -qzF 'netns/run.sh' "/proc/$1/cmdline" 2>/dev/null
}
for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
  case $ns in tvk-*) ;; *) continue ;; esac
  owner=${ns#tvk-}
  owner=${owner%%x*}
  case $owner in ''|*[!0-9]*) continue ;; esac
  script_alive "$owner" && continue
  for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "/etc/netns/$ns"
done
for stale in "${TMPDIR:-/tmp}"/tarvisko-netns.*; do
  [ -f "$stale/owner" ] || continue
  owner=$(cat "$stale/owner" 2>/dev/null || true)
  case $owner in ''|*[!0-9]*) continue ;; esac
  script_alive "$owner" && continue
  if [ -f "$stale/prefix/wineserver" ]; then
    case $(cat "$stale/prefix/wineserver") in wine-?*) rm -rf "/tmp/$(cat "$stale/prefix/wineserver")" ;; esac
  fi
  rm -rf "$stale"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvisko-netns.XXXXXX")
# The owner file appears whole (a rename), so a concurrent run's sweep never reads it empty and
# takes this fresh folder for a leftover.
echo $$ >"$work/owner.new" && mv "$work/owner.new" "$work/owner"
random=${work##*.}
run_id=$$x$(printf '%s' "$random" | tr -c 'A-Za-z0-9' 'z' | cut -c1-4)
nodes=()
nodes[0]="tvk-$run_id-c"
for k in $(seq 1 "$routers"); do nodes[$k]="tvk-$run_id-r$k"; done
nodes[$((routers + 1))]="tvk-$run_id-t"
client=${nodes[0]}
target=${nodes[$((routers + 1))]}
prefix=$work/prefix
server_tmp=""
target_pid=""

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  if [ -d "$prefix" ] && [ -e "/run/netns/$client" ]; then
    ip netns exec "$client" env WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
  fi
  [ -n "$target_pid" ] && kill "$target_pid" 2>/dev/null
  # Whatever still runs in our namespaces was started by this script: end it by its id.
  local ns pid
  for ns in "${nodes[@]}"; do
    if [ -e "/run/netns/$ns" ]; then
      for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
    fi
  done
  for ns in "${nodes[@]}"; do
    [ -e "/run/netns/$ns" ] && ip netns del "$ns" 2>/dev/null
    rm -rf "/etc/netns/$ns"
  done
  case $server_tmp in /tmp/wine-?*) rm -rf "$server_tmp" ;; esac
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
echo "netns: namespaces tvk-$run_id-*, files in $work" >&2

# The network.
for ns in "${nodes[@]}"; do
  ip netns add "$ns" || fail "cannot create namespace $ns"
  ip -n "$ns" link set lo up
done
# The IPv6 address of side $2 (1 or 2) of link $1, in canonical text.
v6() { if [ "$1" = 0 ]; then echo "fd00:200::$2"; else echo "fd00:200:$1::$2"; fi; }
for k in $(seq 0 "$routers"); do
  left=${nodes[$k]}
  right=${nodes[$((k + 1))]}
  # In every node "west" leads toward the client and "east" toward the target.
  ip -n "$left" link add east type veth peer name west netns "$right" ||
    fail "cannot create link $k"
  ip -n "$left" addr add "10.200.$k.1/24" dev east
  ip -n "$right" addr add "10.200.$k.2/24" dev west
  ip -n "$left" addr add "$(v6 "$k" 1)/64" dev east nodad
  ip -n "$right" addr add "$(v6 "$k" 2)/64" dev west nodad
  ip -n "$left" link set east up
  ip -n "$right" link set west up
done
ip -n "$client" route add default via 10.200.0.2
ip -n "$client" -6 route add default via "$(v6 0 2)"
ip -n "$target" route add default via "10.200.$routers.1"
ip -n "$target" -6 route add default via "$(v6 "$routers" 1)"
for k in $(seq 1 "$routers"); do
  ns=${nodes[$k]}
  ip netns exec "$ns" sysctl -q -w net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1 \
    net.ipv4.icmp_ratelimit=0 net.ipv6.icmp.ratelimit=0
  # Links on the client's side go back through link k-1, all else forward through link k.
  for j in $(seq 0 $((k - 2))); do
    ip -n "$ns" route add "10.200.$j.0/24" via "10.200.$((k - 1)).1"
    ip -n "$ns" -6 route add "$(v6 "$j" '')/64" via "$(v6 $((k - 1)) 1)"
  done
  if [ "$k" -lt "$routers" ]; then
    ip -n "$ns" route add default via "10.200.$k.2"
    ip -n "$ns" -6 route add default via "$(v6 "$k" 2)"
  fi
  if [ "$k" = "$blackhole_at" ]; then ip -n "$ns" route add blackhole 10.250.0.1/32; fi
  if [ "$k" = "$unreachable_at" ]; then
    # A next hop that never answers ARP: the router gives up after 50 ms and sends ICMP host
    # unreachable. (An "unreachable" route would answer at once, but its replies are limited by
    # a host-wide token bucket that every ICMP error of the router drains.)
    ip -n "$ns" link add void0 type veth peer name void1
    ip -n "$ns" addr add 10.251.0.1/30 dev void0
    ip -n "$ns" link set void0 up
    ip -n "$ns" link set void1 up
    ip netns exec "$ns" sysctl -q -w net.ipv4.neigh.void0.mcast_solicit=1 \
      net.ipv4.neigh.void0.ucast_solicit=1 net.ipv4.neigh.void0.retrans_time_ms=50
    ip -n "$ns" route add 10.250.0.2/32 via 10.251.0.2 dev void0
  fi
  if [ "$k" = "$silent_at" ]; then
    ip -n "$ns" rule add ipproto icmp iif lo table 250 pref 100
    ip -n "$ns" route add blackhole default table 250
    ip -n "$ns" -6 rule add ipproto ipv6-icmp iif lo table 250 pref 100
    ip -n "$ns" -6 route add blackhole default table 250
  fi
  if [ -n "$target_address" ] && [ "$k" = "$routers" ]; then
    ip -n "$ns" route add "$target_address/32" via "10.200.$k.2"
  fi
done
if [ -n "$target_address" ]; then
  ip -n "$target" addr add "$target_address/32" dev lo || fail "bad --target-address $target_address"
fi
# TCP congestion control of the two ends: loss-based, as on Windows (congestion.sh says why).
congestion=$(set_congestion_control "$client" "$target") || congestion=""
[ -n "$congestion" ] || fail "cannot set the congestion control of the namespaces"

if [ -n "$shape" ]; then
  # $shape is split into tc's arguments on purpose.
  # shellcheck disable=SC2086
  ip netns exec "${nodes[1]}" tc qdisc add dev west root tbf $shape || fail "cannot shape: $shape"
  # shellcheck disable=SC2086
  ip netns exec "${nodes[1]}" tc qdisc add dev east root tbf $shape || fail "cannot shape: $shape"
fi
mkdir -p "/etc/netns/$client"
printf 'nameserver 127.0.0.1\n' >"/etc/netns/$client/resolv.conf"
printf '127.0.0.1 localhost\n::1 localhost\n' >"/etc/netns/$client/hosts"
for entry in ${hosts_entries[@]+"${hosts_entries[@]}"}; do
  printf '%s\n' "$entry" >>"/etc/netns/$client/hosts"
done

if [ -n "$target_command" ]; then
  ip netns exec "$target" bash -c "$target_command" </dev/null &
  target_pid=$!
fi

# Wine: a private copy of the ready prefix. Nothing runs in the base prefix itself, so no server
# is started for it: this run leaves no process behind.
WINEPREFIX=$base_prefix "$top/tools/wine/prefix" --no-server >/dev/null 2>&1 ||
  fail "cannot prepare $base_prefix"
"$top/tools/wine/copy-prefix" "$base_prefix" "$prefix" || fail "cannot copy the Wine prefix"

# WINEPREFIX is given to Wine's processes only, so that it marks exactly the processes checked below.
in_client() { ip netns exec "$client" env WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" "$@"; }
in_client wineserver -p </dev/null >/dev/null 2>&1 || fail "cannot start wineserver in $client"
in_client wine wineboot </dev/null >/dev/null 2>&1 || true
if [ -f "$prefix/wineserver" ]; then server_tmp=/tmp/$(cat "$prefix/wineserver"); fi

"$here/check-wineserver" "$prefix" "$client" || exit 2

export WINEPREFIX=$prefix TARVISKO_NETNS_ROUTERS=$routers
export TARVISKO_NETNS_CLIENT=10.200.0.1 TARVISKO_NETNS_CLIENT6=$(v6 0 1)
for k in $(seq 1 "$routers"); do
  export "TARVISKO_NETNS_ROUTER$k=10.200.$((k - 1)).2"
  export "TARVISKO_NETNS_ROUTER${k}_6=$(v6 $((k - 1)) 2)"
done
export TARVISKO_NETNS_TARGET=10.200.$routers.2 TARVISKO_NETNS_TARGET6=$(v6 "$routers" 2)
export TARVISKO_NETNS_BLACKHOLE=10.250.0.1 TARVISKO_NETNS_UNREACHABLE=10.250.0.2
export TARVISKO_NETNS_TARGET_ADDRESS=$target_address
export TARVISKO_NETNS_CLIENT_NS=$client TARVISKO_NETNS_TARGET_NS=$target
export TARVISKO_NETNS_CONGESTION=$congestion

# In the background, so that INT and TERM are handled at once rather than after the test.
in_client wine "$exe" "$@" &
test_pid=$!
set +e
wait "$test_pid"
status=$?
if [ "$status" = 0 ] && [ -n "$client_command" ]; then
  ip netns exec "$client" bash -c "$client_command" </dev/null &
  wait $!
  status=$?
fi
set -e
exit "$status"
