#!/usr/bin/env bash
# Page 1 of the demo report as PDF and PNG, then screenshots of the setup
# window under Xvfb with a sample configuration: offline, the Advanced
# settings, a refused port number, a 1024x600 screen at scale 2, then online
# against the host simulator. Writes to docs/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
for exe in twprinterd hostsim; do
  [ -x "$BUILD/$exe" ] || { echo "screenshot: $BUILD/$exe is missing; build first" >&2; exit 1; }
done
command -v pdftoppm >/dev/null || { echo "screenshot: pdftoppm is missing (Debian poppler-utils)" >&2; exit 1; }
mkdir -p "$ROOT/docs"
DEMO=$(cd "$ROOT" && DEMO_KEEP=1 DEMO_FILENAME=JOB DEMO_INI=$'FILEFORMAT=pdf\nHEADINGS=1' \
  tools/demo.sh "$(realpath --relative-to="$ROOT" "$BUILD")")
[ -s "$DEMO/JOB0f.pdf" ] || { echo "screenshot: the demo report was not drawn; see $DEMO" >&2; exit 1; }
pdfseparate -f 1 -l 1 "$DEMO/JOB0f.pdf" "$ROOT/docs/demo-report.pdf"
pdftoppm -png -r 72 -f 1 -l 1 -singlefile "$DEMO/JOB0f.pdf" "$ROOT/docs/demo-report"
rm -rf "$DEMO"
echo "wrote $ROOT/docs/demo-report.pdf and $ROOT/docs/demo-report.png"

[ -x "$BUILD/twprinter" ] || { echo "screenshot: $BUILD/twprinter is missing; build first" >&2; exit 1; }
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

shoot() { # output state [screen] [scale]
  TWPRINTER_SCREENSHOT=$1 TWPRINTER_SCREENSHOT_STATE=$2 QT_SCALE_FACTOR=${4:-1} \
    timeout 60 xvfb-run -a -s "-screen 0 ${3:-1024x768}x24" "$BUILD/twprinter" 2>"$WORK/twprinter.err" ||
    { cat "$WORK/twprinter.err" >&2; exit 1; }
  [ -s "$1" ] || { echo "screenshot: $1 was not written" >&2; exit 1; }
  echo "wrote $1"
}

sample_ini 2323 0
shoot "$ROOT/docs/twprinter-offline.png" offline
shoot "$ROOT/docs/twprinter-advanced.png" advanced
shoot "$ROOT/docs/twprinter-invalid-port.png" invalid
# A small screen at twice the scale: the setup scrolls, nothing is cut off.
shoot "$ROOT/docs/twprinter-scale2.png" offline 1024x600 2

printf 'negotiate tn3270e PRT3287\nbind\nscs "PAYROLL RUN 12" always\nexpect-response\neoj\nhold\n' >"$WORK/host.script"
"$BUILD/hostsim" --port 0 --script "$WORK/host.script" --timeout 60000 >"$WORK/hostsim.out" &
SIM=$!
for _ in $(seq 50); do grep -q '^PORT ' "$WORK/hostsim.out" && break; sleep 0.1; done
PORT=$(sed -n 's/^PORT //p' "$WORK/hostsim.out" | head -n1)
[ -n "$PORT" ] || { echo "screenshot: the host simulator did not start" >&2; exit 1; }
sample_ini "$PORT" 1
shoot "$ROOT/docs/twprinter-online.png" online
