# Sourced by the namespace harness and the benchmarks that build namespaces of their own.
# set_congestion_control NS...: gives every namespace named the same TCP congestion control and
# prints its name. The host's default may be BBR, which keeps a deep bottleneck queue nearly
# empty; Windows clients use a loss-based one that fills it, and latency under load is only real
# with such a sender. Cubic where the kernel lets a namespace choose it, else Reno (always built
# in). Returns 1 when neither can be set.
set_congestion_control() {
  local candidate ns ok
  for candidate in cubic reno; do
    ok=1
    for ns in "$@"; do
      ip netns exec "$ns" sysctl -q -w net.ipv4.tcp_congestion_control=$candidate \
        >/dev/null 2>&1 || { ok=""; break; }
    done
    if [ -n "$ok" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}
