#!/usr/bin/env bash
# Screenshots for the README, written to docs/: page 1 of the demo report as PDF
# and PNG ("report"); the status page of a small pool and one LU's page in
# headless Chromium ("status"); the setup window under Xvfb with a sample
# configuration: offline, the Advanced settings, a refused port number, a
# 1024x600 screen at scale 2, then online against the host simulator ("window").
#   tools/screenshot.sh [BUILD [report|status|window]...]   (default: all three)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
[ $# -gt 0 ] && shift
SECTIONS=" ${*:-report status window} "
for exe in twprinterd hostsim; do
  [ -x "$BUILD/$exe" ] || { echo "screenshot: $BUILD/$exe is missing; build first" >&2; exit 1; }
done
mkdir -p "$ROOT/docs"
WORK=$(mktemp -d /tmp/twprintershot.XXXXXX)
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"; }
trap cleanup EXIT

# Starts a host simulator on script file $1; its port in $PORT.
start_hostsim() {
  local out=$1.out
  "$BUILD/hostsim" --port 0 --script "$1" --timeout 60000 >"$out" 2>&1 &
  PIDS+=("$!")
  PORT=
  for _ in $(seq 50); do PORT=$(sed -n 's/^PORT //p' "$out" | head -n1); [ -n "$PORT" ] && break; sleep 0.1; done
  [ -n "$PORT" ] || { echo "screenshot: the host simulator did not start: $(cat "$out")" >&2; exit 1; }
}

shot_report() {
  command -v pdftoppm >/dev/null || { echo "screenshot: pdftoppm is missing (Debian poppler-utils)" >&2; exit 1; }
  local demo
  demo=$(cd "$ROOT" && DEMO_KEEP=1 DEMO_FILENAME=JOB DEMO_INI=$'FILEFORMAT=pdf\nHEADINGS=1' \
    tools/demo.sh "$(realpath --relative-to="$ROOT" "$BUILD")")
  [ -s "$demo/JOB0f.pdf" ] || { echo "screenshot: the demo report was not drawn; see $demo" >&2; exit 1; }
  pdfseparate -f 1 -l 1 "$demo/JOB0f.pdf" "$ROOT/docs/demo-report.pdf"
  pdftoppm -png -r 72 -f 1 -l 1 -singlefile "$demo/JOB0f.pdf" "$ROOT/docs/demo-report"
  rm -rf "$demo"
  echo "wrote $ROOT/docs/demo-report.pdf and $ROOT/docs/demo-report.png"
}

# A pool of three LUs with --status: PAYROLL prints two reports to files, INVOICES
# sends one to a network printer that is not there (the job is kept), LABELS has
# no host. Chromium draws the pool's page and INVOICES's page.
shot_status() {
  command -v chromium >/dev/null || { echo "screenshot: chromium is missing (Debian chromium)" >&2; exit 1; }
  local pool=$WORK/pool status d url page name
  mkdir -p "$pool"
  lu_ini() { # name host-port extra-lines
    printf '[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=%s\nLUTYPE=1\n3270E=1\nFILENAME=JOB\nCONNECTTIMEOUT=0\nRETRYINTERVAL=600\nHEADINGS=1\n%s' \
      "$2" "$3" >"$pool/$1.ini"
  }
  local job="scs @$ROOT/samples/report.scs.hex always"$'\nexpect-response\neoj\n'
  printf 'negotiate tn3270e PAYR01\nbind\n%s%shold\n' "$job" "$job" >"$WORK/payroll.script"
  start_hostsim "$WORK/payroll.script"
  lu_ini PAYROLL "$PORT" $'PRINTTOFILE=1\n'
  printf 'negotiate tn3270e INVC01\nbind\n%shold\n' "$job" >"$WORK/invoices.script"
  start_hostsim "$WORK/invoices.script"
  # Nothing listens on the printer's port; the kept job waits for a retry or a click.
  lu_ini INVOICES "$PORT" "USESOCKET=1"$'\n'"SOCKETPORT=127.0.0.1:$((PORT + 1))"$'\nKEEPFAILED=1\nSOCKETTIMEOUT=1\n'
  lu_ini LABELS "$((PORT + 2))" $'PRINTTOFILE=1\n'
  (cd "$WORK" && TWPRINTER_DIR=$WORK exec "$BUILD/twprinterd" --pool "$pool" --status 127.0.0.1:0 \
    2>"$WORK/pool.log") &
  d=$!
  PIDS+=("$d")
  status=
  for _ in $(seq 50); do
    status=$(sed -n 's/.*Status endpoint on .*(port \([0-9]*\).*/\1/p' "$WORK/pool.log" | head -n1)
    [ -n "$status" ] && break
    sleep 0.1
  done
  [ -n "$status" ] || { echo "screenshot: the pool's status endpoint did not start" >&2; cat "$WORK/pool.log" >&2; exit 1; }
  url=http://127.0.0.1:$status
  for _ in $(seq 100); do
    curl -fs "$url/api/v1/lus" 2>/dev/null | grep -q '"name":"INVOICES".*"jobsWaiting":1' &&
      curl -fs "$url/api/v1/lus" | grep -q '"name":"PAYROLL".*"jobsDelivered":2' && break
    sleep 0.1
  done
  curl -fs "$url/api/v1/lus" | grep -q '"jobsDelivered":2' ||
    { echo "screenshot: the pool did not print; see $WORK/pool.log" >&2; cat "$WORK/pool.log" >&2; exit 1; }
  while read -r page name; do
    timeout 60 chromium --headless --no-sandbox --disable-gpu --no-first-run --hide-scrollbars \
      --user-data-dir="$WORK/browser" --window-size=1200,800 \
      --screenshot="$ROOT/docs/$name.png" "$url$page" 2>"$WORK/chromium.err" </dev/null ||
      { cat "$WORK/chromium.err" >&2; exit 1; }
    [ -s "$ROOT/docs/$name.png" ] || { echo "screenshot: docs/$name.png was not written" >&2; exit 1; }
    echo "wrote $ROOT/docs/$name.png"
  done <<<$'/ status-page\n/lu/INVOICES status-lu'
  kill "$d" 2>/dev/null || true
  wait "$d" 2>/dev/null || true
}

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

shot_window() {
  [ -x "$BUILD/twprinter" ] || { echo "screenshot: $BUILD/twprinter is missing; build first" >&2; exit 1; }
  command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (Debian xvfb)" >&2; exit 1; }
  export TWPRINTER_DIR=$WORK/config XDG_DATA_HOME=$WORK/data
  unset QT_QPA_PLATFORM
  mkdir -p "$TWPRINTER_DIR"
  cd "$WORK"
  sample_ini 2323 0
  shoot "$ROOT/docs/twprinter-offline.png" offline
  shoot "$ROOT/docs/twprinter-advanced.png" advanced
  shoot "$ROOT/docs/twprinter-invalid-port.png" invalid
  # A small screen at twice the scale: the setup scrolls, nothing is cut off.
  shoot "$ROOT/docs/twprinter-scale2.png" offline 1024x600 2
  printf 'negotiate tn3270e PRT3287\nbind\nscs "PAYROLL RUN 12" always\nexpect-response\neoj\nhold\n' >"$WORK/host.script"
  start_hostsim "$WORK/host.script"
  sample_ini "$PORT" 1
  shoot "$ROOT/docs/twprinter-online.png" online
}

for section in report status window; do
  case $SECTIONS in *" $section "*) "shot_$section" ;; esac
done
