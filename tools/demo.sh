#!/usr/bin/env bash
# Prints the sample jobs: host simulator -> twprinterd -> output files in a temp dir.
set -euo pipefail
BUILD=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIR=$(mktemp -d /tmp/twprinterdemo.XXXXXX)
export TWPRINTER_DIR=$DIR
SIM_OUT=$DIR/hostsim.out
"$BUILD/hostsim" --port 0 --script "$ROOT/samples/demo.script" --transcript "$DIR/transcript" \
  >"$SIM_OUT" 2>&1 &
SIM=$!
trap 'kill $SIM $D 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q '^PORT ' "$SIM_OUT" && break; sleep 0.1; done
PORT=$(awk '/^PORT /{print $2; exit}' "$SIM_OUT")
cat >"$DIR/twprinter.ini" <<INI
[CONFIGURATION]
HOSTNAME=127.0.0.1
SERVERNAME=$PORT
FILENAME=$DIR/JOB
3270E=1
LUTYPE=1
PRINT2PORT=0
PRINTTOFILE=1
CONNECTTIMEOUT=5
INI
(cd "$DIR" && "$ROOT/$BUILD/twprinterd" -E 2>"$DIR/twprinterd.log") &
D=$!
wait $SIM || true
sleep 1
kill -TERM $D 2>/dev/null || true
wait $D 2>/dev/null || true
echo "Delivered jobs in $DIR:"
for f in "$DIR"/JOB*f.txt; do
  [ -e "$f" ] || { echo "  (none; see $DIR/twprinterd.log)"; break; }
  echo "== $f"
  head -n 8 "$f" | tr -d '\r' | tr '\f' '\n'
done
