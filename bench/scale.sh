#!/usr/bin/env bash
# Many LUs on one machine: N twprinterd processes, each with its own directory,
# against one host simulator serving them all at once. Each gets one job of
# RECORDS SCS records. Reports total records per second and the resident memory
# of the processes. Targets: every job delivered, no process over 8 MB resident.
# With MEDIUM cups the jobs go to the queue of a private CUPS scheduler
# instead, to see what a process costs that maps libcups.
# Usage: bench/scale.sh BUILD_DIR [N=50] [RECORDS=2000] [SIZE=80] [MEDIUM=file|cups]
set -u
BUILD=${1:-build}
N=${2:-50}
RECORDS=${3:-2000}
SIZE=${4:-80}
MEDIUM=${5:-file}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
LIMIT_KB=8192
HOSTSIM=$BUILD/hostsim
DAEMON=$(cd "$(dirname "$BUILD/twprinterd")" && pwd)/twprinterd
[ -x "$HOSTSIM" ] && [ -x "$DAEMON" ] || { echo "scale: build hostsim and twprinterd first"; exit 2; }

work=$(mktemp -d /tmp/twscale.XXXXXX)
pids=()
. "$ROOT/bench/load_common.sh"
cleanup() {
    stop_medium
    [ -n "${KEEP:-}" ] && cp "$work/hostsim.out" /tmp/scale_hostsim.out
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

start_medium
start_load_host scale

start=$(date +%s.%N)
daemons=()
for i in $(seq "$N"); do
    d=$work/lu$i
    mkdir -p "$d"
    printf '[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=%s\nLUTYPE=1\n3270E=1\nFILENAME=JOB\n%s\nCONNECTTIMEOUT=0\n' \
        "$port" "$output" >"$d/twprinter.ini"
    (cd "$d" && TWPRINTER_DIR=$d exec "$DAEMON") >"$d/log" 2>&1 &
    daemons+=($!)
    pids+=($!)
done

# Resident memory while the jobs run; VmHWM at the end is each process's peak.
deadline=$(( $(date +%s) + 600 ))
while [ "$(grep -c '^DONE' "$work/hostsim.out")" -lt "$N" ] && [ "$(date +%s)" -lt $deadline ]; do
    sleep 0.2
done
end=$(date +%s.%N)
# Let the last deliveries finish before looking.
for _ in $(seq 100); do
    if [ "$MEDIUM" = cups ]; then
        for p in "${daemons[@]}"; do kill -USR1 "$p" 2>/dev/null; done
        sleep 0.3
        n=$(grep -l 'jobs delivered 1,' "$work"/lu*/log 2>/dev/null | wc -l)
    else
        n=$(ls "$work"/lu*/JOB*f.txt 2>/dev/null | wc -l)
    fi
    [ "$n" -ge "$N" ] && break
    sleep 0.1
done
maxrss=0 maxhwm=0 onerss= onehwm=
for p in "${daemons[@]}"; do
    rss=$(awk '/^VmRSS/{print $2}' /proc/$p/status 2>/dev/null)
    hwm=$(awk '/^VmHWM/{print $2}' /proc/$p/status 2>/dev/null)
    [ -n "$rss" ] || continue
    [ -n "$onerss" ] || { onerss=$rss; onehwm=$hwm; }
    [ "$rss" -gt $maxrss ] && maxrss=$rss
    [ "$hwm" -gt $maxhwm ] && maxhwm=$hwm
done
# VmRSS counts every shared library page mapped; PSS shares them out among the
# processes and the private pages are what each one costs on its own.
pss=$(awk '/^Pss:/{print $2}' /proc/${daemons[0]}/smaps_rollup 2>/dev/null)
priv=$(awk '/^Private_(Clean|Dirty):/{s+=$2} END{print s}' /proc/${daemons[0]}/smaps_rollup 2>/dev/null)
anon=$(awk '/^RssAnon/{print $2}' /proc/${daemons[0]}/status 2>/dev/null)
alive=0
for p in "${daemons[@]}"; do kill -0 "$p" 2>/dev/null && alive=$((alive + 1)); done

delivered=0 lines=0
for i in $(seq "$N"); do
    if [ "$MEDIUM" = cups ]; then
        grep -q 'jobs delivered 1,' "$work/lu$i/log" && delivered=$((delivered + 1))
        continue
    fi
    f=$(ls "$work/lu$i"/JOB*f.txt 2>/dev/null | head -1)
    [ -n "$f" ] || continue
    l=$(grep -c . "$f")
    lines=$((lines + l))
    [ "$l" -ge "$RECORDS" ] && delivered=$((delivered + 1))
done
ok=$(grep -c '^DONE .* ok' "$work/hostsim.out")
acked=$(awk '/^LOAD/{for(i=1;i<=NF;i++) if ($i ~ /^records=/) {split($i,a,"="); s+=a[2]}} END{print s+0}' "$work/hostsim.out")
total=$((N * RECORDS))
secs=$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')
rate=$(awk -v t="$total" -v s="$secs" 'BEGIN {print (s > 0 ? t / s : 0)}')
printf 'scale: %d processes x %d records of %d bytes, medium %s\n' "$N" "$RECORDS" "$SIZE" "$MEDIUM"
printf 'scale: sessions ok %d/%d, records acknowledged %d/%d, jobs delivered complete %d/%d, lines %d/%d, processes alive %d\n' \
    "$ok" "$N" "$acked" "$total" "$delivered" "$N" "$lines" "$total" "$alive"
printf 'scale: wall %.2f s, total %.0f records/s\n' "$secs" "$rate"
printf 'scale: one process VmRSS %s kB VmHWM %s kB; highest of all VmRSS %d kB VmHWM %d kB (limit %d kB)\n' \
    "$onerss" "$onehwm" "$maxrss" "$maxhwm" $LIMIT_KB
printf 'scale: one process RssAnon %s kB, PSS %s kB, private %s kB\n' "$anon" "$pss" "$priv"
grep -h 'LOAD' "$work/hostsim.out" | awk '{for(i=1;i<=NF;i++) if ($i ~ /^p99_us=/) {split($i,a,"="); if (a[2]>m) m=a[2]}} END {printf "scale: worst per-session p99 response %.1f us\n", m}'
result=0
[ "$delivered" -eq "$N" ] || { echo "scale: FAIL: not every job delivered"; grep -h -m3 . "$work"/lu1/log; result=1; }
# A process that maps libcups is bigger by design: only reported.
[ "$MEDIUM" = cups ] || [ "$maxhwm" -le $LIMIT_KB ] || { echo "scale: FAIL: a process went over $LIMIT_KB kB resident"; result=1; }
exit $result
