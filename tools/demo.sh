#!/usr/bin/env bash
# Prints the sample jobs: host simulator -> twprinterd -> output files in a temp dir,
# then the SCS report once more as a PDF. DEMO_INI adds INI lines (e.g. FILEFORMAT=pdf),
# DEMO_FILENAME replaces the sample's print file prefix (relative to the folder);
# DEMO_KEEP=1 prints only the sample and then the folder's name.
set -euo pipefail
BUILD=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIR=$(mktemp -d /tmp/twprinterdemo.XXXXXX)
export TWPRINTER_DIR=$DIR
SIM=
D=
trap 'kill $SIM $D 2>/dev/null || true' EXIT

# One host session from script through twprinterd; the print files are PREFIX<n>.
run() { # script print-file-prefix file-format log-name
  local script=$1 prefix=$2 format=$3 log=$4 out=$DIR/hostsim.$4.out
  "$BUILD/hostsim" --port 0 --script "$script" --transcript "$DIR/transcript.$log" \
    >"$out" 2>&1 &
  SIM=$!
  for _ in $(seq 50); do grep -q '^PORT ' "$out" && break; sleep 0.1; done
  cat >"$DIR/twprinter.ini" <<INI
[CONFIGURATION]
HOSTNAME=127.0.0.1
SERVERNAME=$(awk '/^PORT /{print $2; exit}' "$out")
FILENAME=$prefix
3270E=1
LUTYPE=1
PRINT2PORT=0
PRINTTOFILE=1
${format:+FILEFORMAT=$format}
CONNECTTIMEOUT=5
${DEMO_INI:-}
INI
  (cd "$DIR" && "$ROOT/$BUILD/twprinterd" -E 2>"$DIR/twprinterd.$log.log") &
  D=$!
  wait $SIM || true
  sleep 1
  kill -TERM $D 2>/dev/null || true
  wait $D 2>/dev/null || true
}

run "$ROOT/samples/demo.script" "${DEMO_FILENAME:-$DIR/JOB}" "" JOB
if [ "${DEMO_KEEP:-}" = 1 ]; then echo "$DIR"; exit 0; fi
echo "Delivered jobs in $DIR:"
for f in "$DIR"/JOB*f.txt; do
  [ -e "$f" ] || { echo "  (none; see $DIR/twprinterd.JOB.log)"; break; }
  echo "== $f"
  # Printer controls the host passed through show as ^[ and the like.
  head -n 8 "$f" | tr -d '\r' | tr '\f' '\n' | cat -v
done

# The first job of the sample alone, printed to PDF.
sed -n '1,/^eoj$/p' "$ROOT/samples/demo.script" >"$DIR/pdf.script"
printf 'sleep 500\nclose\n' >>"$DIR/pdf.script"
run "$DIR/pdf.script" "$DIR/REPORT" pdf REPORT
pdf=$(ls "$DIR"/REPORT*f.pdf 2>/dev/null | head -n 1)
if [ -n "$pdf" ]; then
  echo "== The SCS report as a PDF: $pdf ($(wc -c <"$pdf") bytes)"
else
  echo "== No PDF was made; see $DIR/twprinterd.REPORT.log"
fi
echo "Manual pages: man -l $ROOT/packaging/man/twprinterd.8 (also twprinter.1, twprinter.ini.5)"
