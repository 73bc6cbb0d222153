#!/usr/bin/env bash
# The status endpoint under load: bench/pool.sh without and with a
# Prometheus-like scraper (bench/scraper.cpp) reading /metrics of the pool ten
# times a second, the two kinds of run taken in turn PAIRS times, since on a
# shared machine one run's rate differs from the next by more than what is
# measured here: the medians are compared.
# Targets: the median aggregate records/s with scraping within 5% of the median
# without; one scrape of N LUs under 20 ms (p99 over every scrape); the
# endpoint's memory (the medians' difference of peak resident memory) under 5 MB.
# Usage: bench/status_scrape.sh BUILD_DIR [N=500] [RECORDS=400] [SIZE=80] [PAIRS=5]
set -u
BUILD=${1:-build}
N=${2:-500}
RECORDS=${3:-400}
SIZE=${4:-80}
PAIRS=${5:-5}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SCRAPER=$BUILD/scraper
[ -x "$SCRAPER" ] || { echo "status_scrape: build the scraper first"; exit 2; }
work=$(mktemp -d /tmp/twscrape.XXXXXX)
trap 'touch "$work/stop"; wait; rm -rf "$work"' EXIT

rate() { sed -n 's/.*aggregate \([0-9]*\) acknowledged.*/\1/p' "$1"; }
hwm() { sed -n 's/.*VmHWM \([0-9]*\) kB.*/\1/p' "$1"; }
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
failed=0
: >"$work/scrapes"
for pair in $(seq "$PAIRS"); do
    "$ROOT/bench/pool.sh" "$BUILD" "$N" "$RECORDS" "$SIZE" file >"$work/plain$pair.out" 2>&1 || failed=1
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    rm -f "$work/stop"
    # Scrapes before the endpoint listens answer 0 and are left out.
    "$SCRAPER" "$port" 100 "$work/stop" >>"$work/scrapes" &
    scraper=$!
    POOL_ARGS="--status 127.0.0.1:$port" "$ROOT/bench/pool.sh" "$BUILD" "$N" "$RECORDS" "$SIZE" \
        file >"$work/scraped$pair.out" 2>&1 || failed=1
    touch "$work/stop"
    wait "$scraper"
    printf 'pair %d: records/s %s without, %s with scraping; VmHWM %s kB without, %s kB with\n' "$pair" \
        "$(rate "$work/plain$pair.out")" "$(rate "$work/scraped$pair.out")" \
        "$(hwm "$work/plain$pair.out")" "$(hwm "$work/scraped$pair.out")"
done
[ "$failed" = 0 ] || { echo "status_scrape: a pool run failed:"; grep -h 'FAIL' "$work"/*.out | sort | uniq -c; }
r0=$(for f in "$work"/plain*.out; do rate "$f"; done | median)
r1=$(for f in "$work"/scraped*.out; do rate "$f"; done | median)
m0=$(for f in "$work"/plain*.out; do hwm "$f"; done | median)
m1=$(for f in "$work"/scraped*.out; do hwm "$f"; done | median)
awk '$1 == 200 {print $2}' "$work/scrapes" | sort -n >"$work/ms"
count=$(wc -l <"$work/ms")
[ "$count" -gt 0 ] || { echo "status_scrape: FAIL: no scrape answered"; exit 1; }
p50=$(median <"$work/ms")
p99=$(awk -v n="$count" 'NR == int(n * 0.99 + 0.999) {print}' "$work/ms")
worst=$(tail -1 "$work/ms")
size=$(awk '$1 == 200 {s = $3} END {print s + 0}' "$work/scrapes")
ratio=$(awk -v a="$r0" -v b="$r1" 'BEGIN {printf "%.3f", (a > 0 ? b / a : 0)}')
printf 'scrape: %d LUs, %d pairs of runs taken in turn on %s cores (shared: medians)\n' "$N" "$PAIRS" "$(nproc)"
printf 'scrape: %d scrapes answered (of %d asked), %s bytes each\n' "$count" "$(wc -l <"$work/scrapes")" "$size"
printf 'scrape: time per scrape median %.2f ms, p99 %.2f ms, worst %.2f ms\n' "$p50" "$p99" "$worst"
printf 'scrape: median aggregate records/s %s without, %s with scraping: ratio %s\n' "$r0" "$r1" "$ratio"
printf 'scrape: median peak resident memory %s kB without, %s kB with (%+d kB)\n' "$m0" "$m1" \
    "$(awk -v a="$m0" -v b="$m1" 'BEGIN {printf "%d", b - a}')"
result=0
awk -v r="$ratio" 'BEGIN {exit !(r >= 0.95)}' || { echo "scrape: FAIL: more than 5% slower"; result=1; }
awk -v p="$p99" 'BEGIN {exit !(p < 20)}' || { echo "scrape: FAIL: a p99 scrape of 20 ms or more"; result=1; }
awk -v a="$m0" -v b="$m1" 'BEGIN {exit !(b - a < 5120)}' ||
    { echo "scrape: FAIL: the endpoint costs 5 MB or more"; result=1; }
exit $result
