#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine (run as root).
# Idempotent: a second run only checks what is already there.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth libz-mingw-w64-dev
  nlohmann-json3-dev googletest cmake make python3 openssl iproute2 iputils-ping
  ca-certificates procps iperf3 mtr-tiny traceroute curl imagemagick
)
# npm comes with the machine's Node.js; Debian's npm conflicts with it, so only add it when absent.
command -v npm >/dev/null 2>&1 || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# On a fresh machine another package installation (automatic updates) may hold the package lock
# for minutes: apt-get waits for it, up to ten minutes, instead of failing at once. The lists'
# lock of "apt-get update" is not covered by that option, so that step is retried while the lock
# is held.
apt_lock_wait=600
apt_get() {
  local waited=0 log status
  log=$(mktemp)
  while :; do
    status=0
    apt-get -o DPkg::Lock::Timeout=$apt_lock_wait "$@" 2>&1 | tee "$log" || status=$?
    [ "$status" = 0 ] && break
    if grep -q "Could not get lock" "$log" && [ "$waited" -lt "$apt_lock_wait" ]; then
      echo "setup: another package installation holds the package lock; waiting (${waited} of ${apt_lock_wait} s)"
      sleep 10
      waited=$((waited + 10))
      continue
    fi
    rm -f "$log"
    return "$status"
  done
  rm -f "$log"
}
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  echo "setup: installing ${missing[*]} (waits for the package lock when another installation holds it)"
  apt_get update
  apt_get install -y --no-install-recommends "${missing[@]}"
fi

# SQLite amalgamation, pinned: taken from the better-sqlite3 npm package.
sqlite_pkg="better-sqlite3@12.11.1"
sqlite_sha256="ebf0ed75a7a59dbcb3b24bbd014ef49d9f15bc328e4adcbf516f2a8fadfa2835"
deps="$top/deps"
if [ ! -f "$deps/sqlite3/sqlite3.c" ] || [ ! -f "$deps/sqlite3/.sha256-$sqlite_sha256" ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  (cd "$tmp" && npm pack --silent "$sqlite_pkg" >/dev/null)
  tarball=$(ls "$tmp"/better-sqlite3-*.tgz)
  actual=$(sha256sum "$tarball" | cut -d' ' -f1)
  if [ "$actual" != "$sqlite_sha256" ]; then
    echo "setup: $sqlite_pkg has sha256 $actual, expected $sqlite_sha256" >&2
    exit 1
  fi
  tar -xzf "$tarball" -C "$tmp" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
  rm -rf "$deps/sqlite3"
  mkdir -p "$deps/sqlite3"
  cp "$tmp/package/deps/sqlite3/sqlite3.c" "$tmp/package/deps/sqlite3/sqlite3.h" "$deps/sqlite3/"
  touch "$deps/sqlite3/.sha256-$sqlite_sha256"
fi

# The JSON header goes into a private include folder: the cross build never sees /usr/include.
mkdir -p "$deps/include"
if [ ! -f "$deps/include/nlohmann/json.hpp" ]; then
  rm -rf "$deps/include/nlohmann"
  cp -r /usr/include/nlohmann "$deps/include/nlohmann"
fi
