#!/usr/bin/env bash
# Runs the latency-under-load test across a namespace path: client, one router shaped with tbf,
# and the simulated node in the target namespace, reached by a DNS name in its certificate.
# Usage: session_load_netns.sh TEST_EXE "TBF ARGUMENTS" GTEST_FILTER
set -euo pipefail
exe=${1:?usage: session_load_netns.sh TEST_EXE TBF FILTER}
shape=${2:?usage: session_load_netns.sh TEST_EXE TBF FILTER}
filter=${3:?usage: session_load_netns.sh TEST_EXE TBF FILTER}
top=$(cd "$(dirname "$0")/../../.." && pwd)
binary=${TARVISKO_BINARY_DIR:?TARVISKO_BINARY_DIR must be set}
name=node.tarvisko.test
port=8443

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvisko-load.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$top/tools/simulator/make-server-cert" "$binary/test-ca" "$name" "$work"
# The namespace's prefix is a copy of the project's: make sure that one trusts the test CA.
WINEPREFIX=$binary/wineprefix "$top/tools/wine/prefix" >/dev/null
WINEPREFIX=$binary/wineprefix TARVISKO_WINESERVER_RUNNING=1 "$top/tools/wine/prefix.d/50-test-ca"

export TARVISKO_SIMULATOR_ORIGIN=https://$name:$port
set +e
"$top/tools/netns/run.sh" --routers 1 --hosts-entry "10.200.1.2 $name" --shape "$shape" \
  --target-command "exec python3 $top/tools/simulator/simulator.py --cert $work/$name.pem --key $work/$name.key --listen 10.200.1.2 --port $port --modules node,portal >/dev/null" \
  -- "$exe" --gtest_filter="$filter"
status=$?
set -e
exit "$status"
