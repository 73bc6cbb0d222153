#!/usr/bin/env bash
# Screenshots of the setup window under Xvfb with a sample configuration:
# offline, then online against the host simulator. Writes PNGs to docs/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
for exe in twprinter hostsim; do
  [ -x "$BUILD/$exe" ] || { echo "screenshot: $BUILD/$exe is missing; build first" >&2; exit 1; }
done
command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (Debian xvfb)" >&2; exit 1; }

WORK=$(mktemp -d /tmp/twprintershot.XXXXXX)
SIM=
cleanup() { [ -n "$SIM" ] && kill "$SIM" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
export TWPRINTER_DIR=$WORK/config XDG_DATA_HOME=$WORK/data
unset QT_QPA_PLATFORM
mkdir -p "$TWPRINTER_DIR" "$ROOT/docs"
cd "$WORK"

sample_ini() { # port autostart
  cat >"$TWPRINTER_DIR/twprinter.ini" <<INI
[CONFIGURATION]
HOSTNAME=127.0.0.1
SERVERNAME=$1
CONNECTTIMEOUT=15
LUTYPE=1
3270E=1
CONNECTNAME=PRT3287
ASSOCIATENAME=
SESSIONID=-1
LUADDRESS=-1
PRINTTOFILE=1
PRINT2PORT=0
USESOCKET=0
FILENAME=JOB
JOBNAME=Payroll
HEADINGS=1
PRINTAFTERNLINES=0
PRINTAFTERNLINESCHK=0
AUTOSTART=$2
STARTVISIBLE=1
INI
}

shoot() { # output state
  TWPRINTER_SCREENSHOT=$1 TWPRINTER_SCREENSHOT_STATE=$2 \
    timeout 60 xvfb-run -a -s "-screen 0 1024x768x24" "$BUILD/twprinter" 2>"$WORK/twprinter.err" ||
    { cat "$WORK/twprinter.err" >&2; exit 1; }
  [ -s "$1" ] || { echo "screenshot: $1 was not written" >&2; exit 1; }
  echo "wrote $1"
}

sample_ini 2323 0
shoot "$ROOT/docs/twprinter-offline.png" offline

printf 'negotiate tn3270e PRT3287\nbind\nhold\n' >"$WORK/host.script"
"$BUILD/hostsim" --port 0 --script "$WORK/host.script" --timeout 60000 >"$WORK/hostsim.out" &
SIM=$!
for _ in $(seq 50); do grep -q '^PORT ' "$WORK/hostsim.out" && break; sleep 0.1; done
PORT=$(sed -n 's/^PORT //p' "$WORK/hostsim.out" | head -n1)
[ -n "$PORT" ] || { echo "screenshot: the host simulator did not start" >&2; exit 1; }
sample_ini "$PORT" 1
shoot "$ROOT/docs/twprinter-online.png" online
