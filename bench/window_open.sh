#!/usr/bin/env bash
# Time from process start to the first paint of the setup window, under Xvfb.
# Usage: bench/window_open.sh [builddir] [runs]. The target is 300 ms.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
RUNS=${2:-10}
[ -x "$BUILD/twprinter" ] || { echo "window_open: $BUILD/twprinter is missing" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "window_open: Xvfb is missing (Debian xvfb)" >&2; exit 1; }

WORK=$(mktemp -d /tmp/twprinterbench.XXXXXX)
XPID=
cleanup() { [ -n "$XPID" ] && kill "$XPID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
# The X server is up before the first run, so only the program is measured.
for n in $(seq 90 120); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XPID=$!
  export DISPLAY=":$n"
  break
done
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/${DISPLAY#:}" ] || [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
unset QT_QPA_PLATFORM
export TWPRINTER_DIR=$WORK/config XDG_DATA_HOME=$WORK/data TWPRINTER_STARTUP_PROBE=1
mkdir -p "$TWPRINTER_DIR"
cd "$WORK"

"$BUILD/twprinter" >/dev/null 2>&1 || true # first start writes the INI and registration
times=()
for _ in $(seq "$RUNS"); do
  start=$(date +%s%N)
  line=$("$BUILD/twprinter" 2>/dev/null | grep 'first paint' || true)
  [ -n "$line" ] || { echo "window_open: no first paint reported" >&2; exit 1; }
  painted=${line##* }
  times+=($(( (painted - start) / 1000000 )))
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
median=${sorted[$(( ${#sorted[@]} / 2 ))]}
echo "window_open: runs=$RUNS min=${sorted[0]}ms median=${median}ms max=${sorted[-1]}ms (target 300 ms)"
[ "$median" -le 300 ] && echo "window_open: within target" || echo "window_open: OVER TARGET"
