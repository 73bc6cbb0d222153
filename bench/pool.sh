#!/usr/bin/env bash
# Many LUs in one twprinterd (--pool) against one host simulator serving them
# all at once; each LU gets one job of RECORDS SCS records, each record with
# ALWAYS-RESPONSE. MEDIUM file: the jobs are copied to files; targets
# aggregate >= 30000 acknowledged records/s, every LU's p99 response < 10 ms,
# every job complete. MEDIUM cups: the jobs go to the queue of a private CUPS
# scheduler; target resident memory of the whole process <= 300 MB for 500 LUs
# (scaled: 0.6 MB per LU, at least 40 MB), every job taken by the scheduler.
# Usage: bench/pool.sh BUILD_DIR [N=500] [RECORDS=400] [SIZE=80] [MEDIUM=file|cups]
# POOL_ARGS: more words for twprinterd (bench/status_scrape.sh passes --status).
# POOL_ARCHIVEDAYS=N: every job also archived (one archive for the pool); the
# target with it on: within 10% of the aggregate records/s without it.
set -u
BUILD=${1:-build}
N=${2:-500}
RECORDS=${3:-400}
SIZE=${4:-80}
MEDIUM=${5:-file}
ARCHIVEDAYS=${POOL_ARCHIVEDAYS:-0}
MIN_RATE=30000
MAX_P99_US=10000
# The print libraries (libcups, cairo, fontconfig) cost some 25 MB once.
LIMIT_KB=$((N * 600 > 40960 ? N * 600 : 40960))
ROOT=$(cd "$(dirname "$0")/.." && pwd)
HOSTSIM=$BUILD/hostsim
DAEMON=$(cd "$(dirname "$BUILD/twprinterd")" && pwd)/twprinterd
[ -x "$HOSTSIM" ] && [ -x "$DAEMON" ] || { echo "pool: build hostsim and twprinterd first"; exit 2; }
# Two descriptors per LU and some: the connection, the job file, the log.
[ "$(ulimit -n)" -ge $((N * 4 + 64)) ] || ulimit -n $((N * 4 + 64)) 2>/dev/null ||
    { echo "pool: ulimit -n $(ulimit -n) is too small for $N LUs"; exit 2; }

work=$(mktemp -d /tmp/twpool.XXXXXX)
pids=()
. "$ROOT/bench/load_common.sh"
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    stop_medium
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

[ "$MEDIUM" != cups ] || [ -x /usr/sbin/cupsd ] || { echo "pool: no cupsd here"; exit 2; }
start_medium
start_load_host pool

mkdir -p "$work/pool"
for i in $(seq -w "$N"); do
    printf '[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=%s\nLUTYPE=1\n3270E=1\nFILENAME=JOB\n%s\nCONNECTTIMEOUT=0\nARCHIVEDAYS=%s\nARCHIVEDIR=%s\n' \
        "$port" "$output" "$ARCHIVEDAYS" "$work/archive" >"$work/pool/LU$i.ini"
done
start=$(date +%s.%N)
TWPRINTER_DIR=$work "$DAEMON" --pool "$work/pool" ${POOL_ARGS:-} >"$work/daemon.log" 2>&1 &
daemon=$!
pids+=($daemon)

# CPU seconds (user+system) each side used: both share the machine's cores.
cpu() { awk -v hz="$(getconf CLK_TCK)" '{printf "%.2f", ($14 + $15) / hz}' /proc/$1/stat 2>/dev/null; }
# Resident memory sampled while the jobs run; VmHWM at the end is the peak.
maxrss=0 hostcpu=0
deadline=$(( $(date +%s) + 600 ))
while [ "$(grep -c '^DONE' "$work/hostsim.out")" -lt "$N" ] && [ "$(date +%s)" -lt $deadline ]; do
    rss=$(awk '/^VmRSS/{print $2}' /proc/$daemon/status 2>/dev/null)
    [ -n "$rss" ] && [ "$rss" -gt $maxrss ] && maxrss=$rss
    c=$(cpu $hostpid)
    [ -n "$c" ] && hostcpu=$c
    sleep 0.1
done
end=$(date +%s.%N)
poolcpu=$(cpu $daemon)

delivered=0 lines=0
# LUs whose one job was delivered, by the last summary (SIGUSR1).
summarised() {
    kill -USR1 "$daemon"
    sleep 0.5
    tail -n "$N" "$work/daemon.log" | grep -c 'jobs delivered 1, jobs failed 0'
}
if [ "$MEDIUM" = cups ]; then
    # Every job taken by the scheduler (it prints them at its own pace); memory sampled meanwhile.
    for _ in $(seq 240); do
        rss=$(awk '/^VmRSS/{print $2}' /proc/$daemon/status 2>/dev/null)
        [ -n "$rss" ] && [ "$rss" -gt $maxrss ] && maxrss=$rss
        delivered=$(summarised)
        [ "$delivered" -ge "$N" ] && break
    done
else
    for _ in $(seq 100); do
        n=$(ls "$work"/pool/LU*/JOB*f.txt 2>/dev/null | wc -l)
        [ "$n" -ge "$N" ] && break
        sleep 0.1
    done
    for i in $(seq -w "$N"); do
        f=$(ls "$work/pool/LU$i"/JOB*f.txt 2>/dev/null | head -1)
        [ -n "$f" ] || continue
        l=$(grep -c . "$f")
        lines=$((lines + l))
        [ "$l" -ge "$RECORDS" ] && delivered=$((delivered + 1))
    done
fi
hwm=$(awk '/^VmHWM/{print $2}' /proc/$daemon/status 2>/dev/null)
rss=$(awk '/^VmRSS/{print $2}' /proc/$daemon/status 2>/dev/null)
threads=$(awk '/^Threads/{print $2}' /proc/$daemon/status 2>/dev/null)
summary=$(summarised)

ok=$(grep -c '^DONE .* ok' "$work/hostsim.out")
acked=$(awk '/^LOAD/{for(i=1;i<=NF;i++) if ($i ~ /^records=/) {split($i,a,"="); s+=a[2]}} END{print s+0}' "$work/hostsim.out")
total=$((N * RECORDS))
secs=$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')
rate=$(awk -v t="$acked" -v s="$secs" 'BEGIN {print (s > 0 ? t / s : 0)}')
p99=$(awk '/^LOAD/{for(i=1;i<=NF;i++) if ($i ~ /^p99_us=/) {split($i,a,"="); if (a[2]>m) m=a[2]}} END {print m+0}' "$work/hostsim.out")
printf 'pool: %d LUs in one process x %d records of %d bytes, medium %s, ARCHIVEDAYS=%s\n' \
    "$N" "$RECORDS" "$SIZE" "$MEDIUM" "$ARCHIVEDAYS"
printf 'pool: sessions ok %d/%d, records acknowledged %d/%d, jobs delivered %d/%d, summary lines with one job %d\n' \
    "$ok" "$N" "$acked" "$total" "$delivered" "$N" "$summary"
printf 'pool: wall %.2f s, aggregate %.0f acknowledged records/s, worst per-LU p99 response %.1f us\n' \
    "$secs" "$rate" "$p99"
printf 'pool: CPU used: twprinterd %s s, hostsim at least %s s\n' "$poolcpu" "$hostcpu"
printf 'pool: VmRSS highest sampled %d kB, at the end %s kB, VmHWM %s kB (limit %d kB), threads %s\n' \
    "$maxrss" "$rss" "$hwm" "$LIMIT_KB" "$threads"
if [ "$ARCHIVEDAYS" != 0 ]; then
    # Stopped first: the archive's writer finishes what it holds.
    kill "$daemon" && wait "$daemon" 2>/dev/null
    archived=$(sqlite3 "$work/archive/index.db" 'SELECT count(*) FROM jobs' 2>/dev/null)
    printf 'pool: jobs archived %s/%d\n' "${archived:-?}" "$N"
fi
result=0
[ "$delivered" -eq "$N" ] || { echo "pool: FAIL: not every job delivered"; grep -m5 -v 'online\|connect' "$work/daemon.log"; result=1; }
if [ "$MEDIUM" = file ]; then
    awk -v r="$rate" -v m=$MIN_RATE 'BEGIN {exit !(r >= m)}' || { echo "pool: FAIL: under $MIN_RATE records/s"; result=1; }
    awk -v p="$p99" -v m=$MAX_P99_US 'BEGIN {exit !(p < m)}' || { echo "pool: FAIL: a p99 over $MAX_P99_US us"; result=1; }
else
    [ "${hwm:-0}" -le $LIMIT_KB ] || { echo "pool: FAIL: over $LIMIT_KB kB resident"; result=1; }
fi
exit $result
