#!/usr/bin/env bash
# The status endpoint under load: bench/pool.sh without and with a
# Prometheus-like scraper (bench/scraper.cpp) reading /metrics of the pool ten
# times a second, the two kinds of run taken in turn PAIRS times, since on a
# shared machine one run's rate differs from the next by more than what is
# measured here: the medians are compared.
# Targets: the median aggregate records/s with scraping within 5% of the median
# without; one scrape of N LUs under 20 ms (p99 over every scrape, and p99 with
# every LU online and no jobs); the endpoint's memory (the medians' difference
# of peak resident memory) under 5 MB. The scrapes of the pool runs are also
# shown by phase: the pool starting, running its jobs, idle after them.
# Usage: bench/status_scrape.sh BUILD_DIR [N=500] [RECORDS=400] [SIZE=80] [PAIRS=5]
# HOLD_SECONDS: how long the pool with every LU online is scraped (10).
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
for pair in $(seq "$PAIRS"); do
    "$ROOT/bench/pool.sh" "$BUILD" "$N" "$RECORDS" "$SIZE" file >"$work/plain$pair.out" 2>&1 || failed=1
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    rm -f "$work/stop"
    # Scrapes before the endpoint listens answer 0 and are left out.
    "$SCRAPER" "$port" 100 "$work/stop" >"$work/scrapes$pair" &
    scraper=$!
    POOL_ARGS="--status 127.0.0.1:$port" "$ROOT/bench/pool.sh" "$BUILD" "$N" "$RECORDS" "$SIZE" \
        file >"$work/scraped$pair.out" 2>&1 || failed=1
    touch "$work/stop"
    wait "$scraper"
    printf 'pair %d: records/s %s without, %s with scraping; VmHWM %s kB without, %s kB with\n' "$pair" \
        "$(rate "$work/plain$pair.out")" "$(rate "$work/scraped$pair.out")" \
        "$(hwm "$work/plain$pair.out")" "$(hwm "$work/scraped$pair.out")"
done
# The steady state: every LU online (a host that binds and holds them), no jobs,
# scraped for HOLD_SECONDS once all are up.
held() {
    local port status hostpid daemon
    [ "$(ulimit -n)" -ge $((N * 4 + 64)) ] || ulimit -n $((N * 4 + 64)) 2>/dev/null || return 1
    mkdir -p "$work/held/pool"
    printf 'negotiate tn3270e\nbind\nhold\n' >"$work/held/script"
    "$BUILD/hostsim" --port 0 --clients "$N" --concurrent --script "$work/held/script" \
        --timeout 600000 >"$work/held/hostsim.out" 2>&1 &
    hostpid=$!
    for _ in $(seq 100); do grep -q LISTENING "$work/held/hostsim.out" && break; sleep 0.05; done
    port=$(sed -n 's/^PORT //p' "$work/held/hostsim.out")
    for i in $(seq -w "$N"); do
        printf '[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=%s\nLUTYPE=1\n3270E=1\nFILENAME=JOB\nPRINTTOFILE=1\nCONNECTTIMEOUT=0\n' \
            "$port" >"$work/held/pool/LU$i.ini"
    done
    status=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    TWPRINTER_DIR=$work/held "$BUILD/twprinterd" --pool "$work/held/pool" --status "127.0.0.1:$status" \
        >"$work/held/daemon.log" 2>&1 &
    daemon=$!
    rm -f "$work/stop"
    "$SCRAPER" "$status" 100 "$work/stop" >"$work/held/scrapes" &
    local scraper=$!
    for _ in $(seq 600); do
        awk -v n="$N" '$1 == 200 && $4 == n {found = 1} END {exit !found}' "$work/held/scrapes" && break
        sleep 0.1
    done
    sleep "${HOLD_SECONDS:-10}"
    touch "$work/stop"
    wait "$scraper"
    kill "$daemon" "$hostpid" 2>/dev/null
    wait "$daemon" "$hostpid" 2>/dev/null
    awk -v n="$N" '$1 == 200 && $4 == n {print $2}' "$work/held/scrapes" | sort -n >"$work/held/ms"
}
held_count=0 held50=0 held99=0 held_worst=0
if held && [ -s "$work/held/ms" ]; then
    held_count=$(wc -l <"$work/held/ms")
    held50=$(median <"$work/held/ms")
    held99=$(awk -v n="$held_count" 'NR == int(n * 0.99 + 0.999) {print}' "$work/held/ms")
    held_worst=$(tail -1 "$work/held/ms")
else
    echo "status_scrape: the pool with every LU online did not come up"; held99=999
fi
[ "$failed" = 0 ] || { echo "status_scrape: a pool run failed:"; grep -h 'FAIL' "$work"/*.out | sort | uniq -c; }
r0=$(for f in "$work"/plain*.out; do rate "$f"; done | median)
r1=$(for f in "$work"/scraped*.out; do rate "$f"; done | median)
m0=$(for f in "$work"/plain*.out; do hwm "$f"; done | median)
m1=$(for f in "$work"/scraped*.out; do hwm "$f"; done | median)
cat "$work"/scrapes[0-9]* >"$work/scrapes"
# Each run's answered scrapes by the pool's phase: "start" until every LU has
# tried to connect (a thousand threads starting on the machine's cores),
# "running" while LUs are online after that, "idle" once every job is done.
for f in "$work"/scrapes[0-9]*; do
    awk -v n="$N" '$1 == 200 {print ($5 < n ? "start" : $4 > 0 ? "running" : "idle"), $2, $6}' "$f"
done >"$work/phases"
# "COUNT P50 P99 WORST" of the scrape times of phase (all: every answered one);
# column 3: the times to the first byte instead.
figures() {
    awk -v p="$1" -v c="${2:-2}" 'p == "all" || $1 == p {print $c}' "$work/phases" | sort -n >"$work/ms"
    local count
    count=$(wc -l <"$work/ms")
    if [ "$count" -eq 0 ]; then echo "0 0 0 0"; return; fi
    echo "$count $(median <"$work/ms") $(awk -v n="$count" 'NR == int(n * 0.99 + 0.999) {print}' "$work/ms") $(tail -1 "$work/ms")"
}
read -r count p50 p99 worst <<<"$(figures all)"
[ "$count" -gt 0 ] || { echo "status_scrape: FAIL: no scrape answered"; exit 1; }
size=$(awk '$1 == 200 {s = $3} END {print s + 0}' "$work/scrapes")
ratio=$(awk -v a="$r0" -v b="$r1" 'BEGIN {printf "%.3f", (a > 0 ? b / a : 0)}')
printf 'scrape: %d LUs, %d pairs of runs taken in turn on %s cores (shared: medians)\n' "$N" "$PAIRS" "$(nproc)"
printf 'scrape: %d scrapes answered (of %d asked), %s bytes each\n' "$count" "$(wc -l <"$work/scrapes")" "$size"
printf 'scrape: time per scrape median %.2f ms, p99 %.2f ms, worst %.2f ms\n' "$p50" "$p99" "$worst"
for phase in start running idle; do
    read -r c a b w <<<"$(figures $phase)"
    read -r _ fa fb _ <<<"$(figures $phase 3)"
    printf 'scrape:   %-7s %5d scrapes: median %.2f ms, p99 %.2f ms, worst %.2f ms (first byte: median %.2f, p99 %.2f)\n' \
        "$phase" "$c" "$a" "$b" "$w" "$fa" "$fb"
done
printf 'scrape: every LU online, no jobs: %d scrapes, median %.2f ms, p99 %.2f ms, worst %.2f ms\n' \
    "$held_count" "$held50" "$held99" "$held_worst"
printf 'scrape: median aggregate records/s %s without, %s with scraping: ratio %s\n' "$r0" "$r1" "$ratio"
printf 'scrape: median peak resident memory %s kB without, %s kB with (%+d kB)\n' "$m0" "$m1" \
    "$(awk -v a="$m0" -v b="$m1" 'BEGIN {printf "%d", b - a}')"
result=0
awk -v r="$ratio" 'BEGIN {exit !(r >= 0.95)}' || { echo "scrape: FAIL: more than 5% slower"; result=1; }
awk -v p="$p99" 'BEGIN {exit !(p < 20)}' || { echo "scrape: FAIL: a p99 scrape of 20 ms or more"; result=1; }
awk -v p="$held99" 'BEGIN {exit !(p < 20)}' ||
    { echo "scrape: FAIL: a p99 scrape of 20 ms or more with every LU online and no jobs"; result=1; }
awk -v a="$m0" -v b="$m1" 'BEGIN {exit !(b - a < 5120)}' ||
    { echo "scrape: FAIL: the endpoint costs 5 MB or more"; result=1; }
exit $result
