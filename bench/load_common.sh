# Sourced by the many-LU benchmarks (pool.sh, scale.sh). The caller sets ROOT,
# HOSTSIM, work, N, RECORDS, SIZE, MEDIUM and the array pids.

# The medium's INI lines in output; for cups a private scheduler that takes
# every LU's submit at once (its pid in cupspid, CUPS_SERVER exported).
cupspid=
start_medium() {
    output="PRINTTOFILE=1"
    [ "$MEDIUM" = cups ] || return 0
    local cport
    cport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    cupspid=$(TW_CUPS_MAXCLIENTS=$((N + 50)) sh "$ROOT/tests/cups/start-cupsd.sh" "$work/cups" "$cport")
    export CUPS_SERVER=127.0.0.1:$cport
    for _ in $(seq 100); do lpstat -h "$CUPS_SERVER" -v twtest >/dev/null 2>&1 && break; sleep 0.1; done
    output="PRINTTOFILE=0
PRINTER=twtest"
}

stop_medium() {
    [ -n "$cupspid" ] || return 0
    kill "$cupspid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$cupspid" 2>/dev/null || break; sleep 0.1; done
}

# One host simulator in load mode for N concurrent LUs: its pid in hostpid, its
# port in port; TAG names the benchmark when it does not start.
start_load_host() {
    "$HOSTSIM" --port 0 --clients "$N" --concurrent --load "$RECORDS" --size "$SIZE" \
        --timeout 60000 >"$work/hostsim.out" 2>&1 &
    hostpid=$!
    pids+=($hostpid)
    for _ in $(seq 100); do grep -q LISTENING "$work/hostsim.out" && break; sleep 0.05; done
    port=$(sed -n 's/^PORT //p' "$work/hostsim.out")
    [ -n "$port" ] || { echo "$1: hostsim did not start"; cat "$work/hostsim.out"; exit 1; }
}
