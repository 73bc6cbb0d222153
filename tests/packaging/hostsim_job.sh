# Sourced by the packaging tests: start_hostsim WORK TEXT TIMEOUT_MS starts the
# host simulator on a free loopback port with one job holding TEXT, adds it to
# pids, and sets port; on failure it shows the simulator's output, counts a
# failure and finishes (the caller defines hostsim, pids, bad and finish).
start_hostsim() {
    local work=$1 text=$2 timeout=$3
    cat >"$work/script" <<END
negotiate tn3270e
bind
scs "$text\n" always
eoj
sleep 500
unbind
hold
END
    "$hostsim" --port 0 --script "$work/script" --clients 1 --timeout "$timeout" \
        >"$work/hostsim.out" 2>&1 &
    pids+=($!)
    port=
    for _ in $(seq 100); do
        port=$(sed -n 's/^PORT //p' "$work/hostsim.out")
        [ -n "$port" ] && grep -q LISTENING "$work/hostsim.out" && return 0
        sleep 0.1
    done
    cat "$work/hostsim.out"
    bad "hostsim did not start"
    finish
}
