#!/usr/bin/env bash
# The status endpoint under load: bench/pool.sh once as it is, then again with
# a Prometheus-like scraper reading /metrics of the pool ten times a second.
# Targets: aggregate records/s with scraping within 5% of the run without,
# one scrape of N LUs under 20 ms, the endpoint's memory (the difference of
# the two runs' peak resident memory) under 5 MB.
# Usage: bench/status_scrape.sh BUILD_DIR [N=500] [RECORDS=400] [SIZE=80]
set -u
BUILD=${1:-build}
N=${2:-500}
RECORDS=${3:-400}
SIZE=${4:-80}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
command -v curl >/dev/null || { echo "status_scrape: curl is needed"; exit 2; }
work=$(mktemp -d /tmp/twscrape.XXXXXX)
trap 'touch "$work/stop"; wait; rm -rf "$work"' EXIT

"$ROOT/bench/pool.sh" "$BUILD" "$N" "$RECORDS" "$SIZE" file >"$work/plain.out" 2>&1
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(
    # Ten a second, each on a fresh connection as a scraper makes it.
    until [ -e "$work/stop" ]; do
        curl -s -o "$work/last.txt" -w '%{http_code} %{time_total} %{size_download}\n' \
            "http://127.0.0.1:$port/metrics" >>"$work/scrapes" 2>/dev/null
        sleep 0.1
    done
) &
POOL_ARGS="--status 127.0.0.1:$port" "$ROOT/bench/pool.sh" "$BUILD" "$N" "$RECORDS" "$SIZE" file \
    >"$work/scraped.out" 2>&1
touch "$work/stop"
wait
grep -h '^pool:' "$work/plain.out" | sed 's/^pool:/plain:  /'
grep -h '^pool:' "$work/scraped.out" | sed 's/^pool:/scraped:/'
rate() { sed -n 's/.*aggregate \([0-9]*\) acknowledged.*/\1/p' "$1"; }
hwm() { sed -n 's/.*VmHWM \([0-9]*\) kB.*/\1/p' "$1"; }
r0=$(rate "$work/plain.out") r1=$(rate "$work/scraped.out")
m0=$(hwm "$work/plain.out") m1=$(hwm "$work/scraped.out")
grep '^200 ' "$work/scrapes" | awk '{print $2 * 1000}' | sort -n >"$work/ms"
count=$(wc -l <"$work/ms")
[ "$count" -gt 0 ] || { echo "status_scrape: FAIL: no scrape answered"; exit 1; }
median=$(awk -v n="$count" 'NR == int((n + 1) / 2) {print}' "$work/ms")
p99=$(awk -v n="$count" 'NR == int(n * 0.99 + 0.999) {print}' "$work/ms")
worst=$(tail -1 "$work/ms")
size=$(awk '$1 == 200 {s = $3} END {print s + 0}' "$work/scrapes")
series=$(grep -c '^twprinter_up{' "$work/last.txt" 2>/dev/null)
printf 'scrape: %d scrapes answered (of %d), %s LUs in the last (%s bytes)\n' \
    "$count" "$(wc -l <"$work/scrapes")" "$series" "$size"
printf 'scrape: time per scrape median %.2f ms, p99 %.2f ms, worst %.2f ms\n' "$median" "$p99" "$worst"
printf 'scrape: aggregate records/s %s without, %s with scraping (%+.1f%%)\n' "$r0" "$r1" \
    "$(awk -v a="$r0" -v b="$r1" 'BEGIN {print (a > 0 ? (b - a) * 100 / a : 0)}')"
printf 'scrape: peak resident memory %s kB without, %s kB with (%+d kB)\n' "$m0" "$m1" $((m1 - m0))
result=0
awk -v a="$r0" -v b="$r1" 'BEGIN {exit !(b >= a * 0.95)}' || { echo "scrape: FAIL: more than 5% slower"; result=1; }
awk -v p="$p99" 'BEGIN {exit !(p < 20)}' || { echo "scrape: FAIL: a p99 scrape of 20 ms or more"; result=1; }
[ $((m1 - m0)) -lt 5120 ] || { echo "scrape: FAIL: the endpoint costs 5 MB or more"; result=1; }
exit $result
