#!/usr/bin/env bash
# One session under load: the host simulator sends RECORDS SCS records of SIZE
# bytes, each with ALWAYS-RESPONSE, and waits for the response before the next;
# twprinterd prints them to a file. Reports the simulator's LOAD line (rate and
# response latency) and twprinterd's resident memory sampled every second.
# Targets: >= 20000 records/s, p99 < 200 us, resident memory flat.
# Usage: bench/session_load.sh BUILD_DIR [RECORDS=100000] [SIZE=80]
set -u
BUILD=${1:-build}
RECORDS=${2:-100000}
SIZE=${3:-80}
MIN_RATE=20000
MAX_P99_US=200
# Flat: the peak stays within this much of the first sample after connecting.
MAX_GROWTH_KB=1024
HOSTSIM=$BUILD/hostsim
DAEMON=$(cd "$(dirname "$BUILD/twprinterd")" && pwd)/twprinterd
[ -x "$HOSTSIM" ] && [ -x "$DAEMON" ] || { echo "load: build hostsim and twprinterd first"; exit 2; }

work=$(mktemp -d /tmp/twload.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$HOSTSIM" --port 0 --load "$RECORDS" --size "$SIZE" --timeout 30000 >"$work/hostsim.out" 2>&1 &
host=$!
pids+=($host)
for _ in $(seq 100); do grep -q '^PORT ' "$work/hostsim.out" && break; sleep 0.05; done
port=$(sed -n 's/^PORT //p' "$work/hostsim.out")
[ -n "$port" ] || { echo "load: hostsim did not start"; cat "$work/hostsim.out"; exit 1; }

mkdir -p "$work/lu" "$work/out"
printf '[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=%s\nLUTYPE=1\n3270E=1\nFILENAME=%s/JOB\nPRINTTOFILE=1\nCONNECTTIMEOUT=0\n' \
    "$port" "$work/out" >"$work/lu/twprinter.ini"
(cd "$work/lu" && TWPRINTER_DIR=$work/lu exec "$DAEMON") >"$work/lu/log" 2>&1 &
daemon=$!
pids+=($daemon)

rss() { awk '/^VmRSS/{print $2}' "/proc/$daemon/status" 2>/dev/null; }
for _ in $(seq 200); do grep -q '^CONNECTED' "$work/hostsim.out" && break; sleep 0.05; done
rss_start=$(rss)
rss_max=${rss_start:-0}
samples=1
deadline=$(( $(date +%s) + 600 ))
while ! grep -q '^LOAD' "$work/hostsim.out" && kill -0 "$host" 2>/dev/null &&
    [ "$(date +%s)" -lt $deadline ]; do
    sleep 1
    r=$(rss)
    [ -n "$r" ] || break
    samples=$((samples + 1))
    [ "$r" -gt "$rss_max" ] && rss_max=$r
done
rss_end=$(rss)

load=$(grep -m1 '^LOAD' "$work/hostsim.out")
# The job is handed on at PRINT-EOJ after the last response; give it a moment.
lines=0
for _ in $(seq 100); do
    f=$(ls "$work"/out/JOB* 2>/dev/null | head -1)
    [ -n "$f" ] && lines=$(grep -c . "$f") && [ "$lines" -ge "$RECORDS" ] && break
    sleep 0.1
done

echo "load: $RECORDS SCS records of $SIZE bytes, ALWAYS-RESPONSE, one at a time"
echo "${load:-LOAD missing}"
echo "rss_start_kb=${rss_start:-?} rss_max_kb=$rss_max rss_end_kb=${rss_end:-?} samples=$samples"
echo "load: lines in the job file $lines/$RECORDS"
rate=$(sed -n 's/.* rate=\([0-9.]*\).*/\1/p' <<<"$load")
p99=$(sed -n 's/.* p99_us=\([0-9.]*\).*/\1/p' <<<"$load")
result=0
[ -n "$load" ] || { echo "load: FAIL: no LOAD line"; cat "$work/hostsim.out"; tail -5 "$work/lu/log"; exit 1; }
grep -q '^FAIL' "$work/hostsim.out" && { echo "load: FAIL:"; grep '^FAIL' "$work/hostsim.out"; result=1; }
awk -v r="$rate" -v m=$MIN_RATE 'BEGIN{exit !(r >= m)}' ||
    { echo "load: FAIL: rate $rate below $MIN_RATE records/s"; result=1; }
awk -v p="$p99" -v m=$MAX_P99_US 'BEGIN{exit !(p < m)}' ||
    { echo "load: FAIL: p99 $p99 us not under $MAX_P99_US us"; result=1; }
[ $((rss_max - ${rss_start:-0})) -le $MAX_GROWTH_KB ] ||
    { echo "load: FAIL: resident memory grew by more than $MAX_GROWTH_KB kB"; result=1; }
[ "$lines" -ge "$RECORDS" ] || { echo "load: FAIL: job file incomplete"; result=1; }
exit $result
