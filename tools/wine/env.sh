# Sourced by the scripts that start Wine: the Unix environment Wine needs to work at all.

# Wine turns Windows file names into Unix ones in the Unix locale's character set: without a
# UTF-8 locale (a bare CI shell has none) a name such as "ż.txt" cannot be created or opened.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *UTF-8* | *utf8* | *UTF8* | *utf-8*) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac

# The wineserver's socket lives under $TMPDIR, and a socket's path holds at most 107 bytes: a
# missing or relative TMPDIR stops Wine at start, a long one leaves a prefix without kernel32.
# The prefix remembers the folder it was made under, so every Wine process must choose alike.
wine_tmpdir=${TMPDIR:-/tmp}
case $wine_tmpdir in
  /*)
    if [ ! -d "$wine_tmpdir" ] || [ ! -w "$wine_tmpdir" ] || [ ${#wine_tmpdir} -gt 40 ]; then
      export TMPDIR=/tmp
    fi
    ;;
  *) export TMPDIR=/tmp ;;
esac
unset wine_tmpdir

# A crashing program ends at once with its exception's code. Wine would otherwise start winedbg,
# which was seen to hang a crashed test until CTest's time-out instead of printing a backtrace.
case ";${WINEDLLOVERRIDES:-};" in
  *";winedbg.exe="*) ;;
  *) export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedbg.exe=d" ;;
esac

# The ids of the wineservers serving the prefix $1 (by the WINEPREFIX they were started with).
wine_servers_of() {
  local pid
  for pid in $(pgrep -x 'wineserver(64)?' || true); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$1"; then
      echo "$pid"
    fi
  done
}
