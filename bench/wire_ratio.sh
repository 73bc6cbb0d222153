#!/usr/bin/env bash
# The stream at the wire's speed: the host simulator sends RECORDS SCS records
# of SIZE bytes over loopback to a client that only reads and discards
# (null_client, the wire's limit on this machine) and to twprinterd printing to
# a file; streamed (no responses asked but the last) and in lockstep
# (ALWAYS-RESPONSE, one record in flight). Rounds are interleaved; medians.
# Prints MB/s of each and twprinterd's ratio to the null client, and the CPU
# time each client took per record (which the scheduler moves much less).
# Targets: stream >= 0.80, lockstep >= 0.95.
# Usage: bench/wire_ratio.sh BUILD_DIR [RECORDS=100000] [SIZE=1000] [ROUNDS=3]
# TWWIRE_SPOOL: the folder in which the job files are made (default under
# /tmp); /dev/shm leaves the file system's cost of each write out.
set -u
BUILD=${1:-build}
RECORDS=${2:-100000}
SIZE=${3:-1000}
ROUNDS=${4:-3}
HOSTSIM=$BUILD/hostsim
NULL=$BUILD/null_client
DAEMON=$(cd "$(dirname "$BUILD/twprinterd")" && pwd)/twprinterd
[ -x "$HOSTSIM" ] && [ -x "$NULL" ] && [ -x "$DAEMON" ] ||
    { echo "wire: build hostsim, null_client and twprinterd first"; exit 2; }

work=$(mktemp -d /tmp/twwire.XXXXXX)
spool=$(mktemp -d "${TWWIRE_SPOOL:-$work}/twwire-out.XXXXXX")
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work" "$spool"
}
trap cleanup EXIT

# One run: prints the host's seconds for all records and the client's CPU
# microseconds, or nothing when it failed.
run() { # client(null|daemon) mode(stream|lockstep)
    local flag=
    [ "$2" = stream ] && flag=--stream
    rm -rf "$work/run" "${spool:?}"/* && mkdir -p "$work/run/lu"
    "$HOSTSIM" --port 0 --load "$RECORDS" --size "$SIZE" $flag --timeout 30000 \
        >"$work/run/hostsim.out" 2>&1 &
    local host=$!
    pids+=($host)
    for _ in $(seq 100); do grep -qs '^PORT ' "$work/run/hostsim.out" && break; sleep 0.05; done
    local port
    port=$(sed -n 's/^PORT //p' "$work/run/hostsim.out")
    [ -n "$port" ] || return 0
    local client
    if [ "$1" = null ]; then
        "$NULL" "$port" PRT1 >"$work/run/null.out" 2>&1 &
        client=$!
    else
        printf '[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=%s\nLUTYPE=1\n3270E=1\nFILENAME=%s/JOB\nPRINTTOFILE=1\nCONNECTTIMEOUT=0\n' \
            "$port" "$spool" >"$work/run/lu/twprinter.ini"
        (cd "$work/run/lu" && TWPRINTER_DIR=$work/run/lu exec "$DAEMON") >"$work/run/lu/log" 2>&1 &
        client=$!
    fi
    pids+=($client)
    wait "$host"
    # The daemon's CPU before it is stopped; the null client gives its own at the end.
    local cpu
    cpu=$(awk -v hz="$(getconf CLK_TCK)" '{printf "%d", ($14 + $15) / hz * 1e6}' "/proc/$client/stat" 2>/dev/null)
    kill "$client" 2>/dev/null
    wait "$client" 2>/dev/null
    [ "$1" = null ] && cpu=$(sed -n 's/^NULL .* cpu_us=\([0-9]*\).*/\1/p' "$work/run/null.out")
    grep -q '^FAIL' "$work/run/hostsim.out" && { grep '^FAIL' "$work/run/hostsim.out" >&2; return 0; }
    local secs
    secs=$(sed -n "s/^LOAD .* records=$RECORDS .* seconds=\([0-9.]*\) .*/\1/p" "$work/run/hostsim.out")
    [ -n "$secs" ] && echo "$secs ${cpu:-0}"
}

# The median of a list of numbers separated by blanks.
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{a[NR]=$1} END{if (NR) print a[int((NR+1)/2)]}'; }

declare -A secs cpus
for round in $(seq "$ROUNDS"); do
    for mode in stream lockstep; do
        for client in null daemon; do
            s=$(run $client $mode)
            [ -n "$s" ] && secs[$client.$mode]+="${s% *} " && cpus[$client.$mode]+="${s#* } "
        done
    done
done

mb=$(awk -v r="$RECORDS" -v s="$SIZE" 'BEGIN{print r*s/1e6}')
status=0
echo "wire: $RECORDS SCS records of $SIZE bytes, $ROUNDS interleaved rounds, medians," \
    "job files in $(df --output=fstype "$spool" | tail -1) $(dirname "$spool")"
for mode in stream lockstep; do
    n=$(median "${secs[null.$mode]:-}")
    d=$(median "${secs[daemon.$mode]:-}")
    if [ -z "$n" ] || [ -z "$d" ]; then
        echo "wire: FAIL: $mode runs did not finish"
        status=1
        continue
    fi
    want=0.80
    [ $mode = lockstep ] && want=0.95
    nc=$(median "${cpus[null.$mode]:-}")
    dc=$(median "${cpus[daemon.$mode]:-}")
    awk -v mb="$mb" -v n="$n" -v d="$d" -v m=$mode -v w=$want -v nc="$nc" -v dc="$dc" \
        -v r="$RECORDS" 'BEGIN{
        printf "%s: null client %.0f MB/s, twprinterd %.0f MB/s, ratio %.2f (target %.2f); ",
            m, mb / n, mb / d, n / d, w
        printf "client CPU per record: null %.1f us, twprinterd %.1f us\n",
            nc / r, dc / r }'
done
exit $status
