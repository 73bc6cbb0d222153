#!/bin/bash
# Builds the Debian package, installs it on this machine with dpkg -i, and runs
# the installed twprinterd as the package's unprivileged user against the host
# simulator: a job must arrive as its output file, SIGUSR1 must log a summary
# without stopping, SIGTERM must end it with status 0. The package is purged at
# the end. Usage: install_test.sh BUILD_DIR HOSTSIM   (exit 77: cannot run here)
set -u
. "$(dirname "$0")/hostsim_job.sh"
build=$1 hostsim=$2
[ "$(id -u)" = 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
command -v dpkg >/dev/null && command -v cpack >/dev/null || { echo "SKIP: no dpkg/cpack"; exit 77; }
if dpkg-query -W -f='${Status}' twprinter 2>/dev/null | grep -q "install ok installed"; then
    echo "SKIP: a twprinter package is already installed here; not replacing it"; exit 77
fi

work=$(mktemp -d /tmp/twpkg.XXXXXX)
passed=0 failed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    dpkg --purge twprinter >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
finish() { echo "$passed passed, $failed failed"; [ $failed -eq 0 ]; exit $?; }

# 1. Build the package.
rm -f "$build"/twprinter_*.deb
if ! (cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"; bad "cpack -G DEB"; finish
fi
deb=$(ls "$build"/twprinter_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] && ok "built $(basename "$deb")" || { bad "no .deb produced"; finish; }

contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/twprinterd ./usr/lib/systemd/system/twprinterd@.service \
         ./usr/share/man/man1/twprinter.1 ./usr/share/man/man8/twprinterd.8 \
         ./usr/share/man/man5/twprinter.ini.5; do
    grep -q " $f\$" <<<"$contents" || bad "package lacks $f"
done
if [ -x "$build/twprinter" ]; then
    for f in ./usr/bin/twprinter ./usr/share/applications/twprinter.desktop \
             ./usr/share/mime/packages/twprinter.xml; do
        grep -q " $f\$" <<<"$contents" || bad "package lacks $f"
    done
fi
ok "package contents checked"

# 2. Install it for real.
if ! DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
    cat "$work/dpkg.log"; bad "dpkg -i"; finish
fi
ok "dpkg -i"
getent passwd twprinter >/dev/null && ok "user twprinter created" || bad "postinst made no user twprinter"
man -w twprinter.ini >/dev/null 2>&1 && man -w twprinterd >/dev/null 2>&1 && ok "man pages found" ||
    bad "man cannot find the installed pages"
unit=/usr/lib/systemd/system/twprinterd@.service
if command -v systemd-analyze >/dev/null; then
    out=$(cd /tmp && systemd-analyze verify "${unit%@.service}@lu01.service" 2>&1)
    [ $? -eq 0 ] && [ -z "$out" ] && ok "installed unit verifies (with its man pages)" ||
        bad "installed unit: $out"
fi

# 3. A unit started without settings says so and fails (then systemd retries).
mkdir -p "$work/empty"
# The unit quotes the script for systemd; run it as systemd would.
msg=$(TWPRINTER_DIR="$work/empty" sh -c "$(sed -n "s/^ExecStartPre=\/bin\/sh -c '\(.*\)'\$/\1/p" "$unit")" 2>&1; echo "rc=$?")
case $msg in
*"no settings in $work/empty/twprinter.ini"*rc=78) ok "missing settings reported" ;;
*) bad "start without settings: $msg" ;;
esac

# 4. The installed daemon, as the service user, against the host simulator.
dir=$work/lu01
mkdir -p "$dir"
start_hostsim "$work" "PACKAGED HELLO" 20000
cat >"$dir/twprinter.ini" <<END
[CONFIGURATION]
HOSTNAME=127.0.0.1
SERVERNAME=$port
LUTYPE=1
3270E=1
FILENAME=$dir/JOB
PRINTTOFILE=1
CONNECTTIMEOUT=15
END
chown -R twprinter:twprinter "$work"
chmod 755 "$work"
(cd "$dir" && exec setpriv --reuid=twprinter --regid=twprinter --clear-groups \
    env TWPRINTER_DIR="$dir" /usr/bin/twprinterd) >"$work/daemon.log" 2>&1 &
daemon=$!
pids+=($daemon)
got=
for _ in $(seq 200); do
    got=$(cat "$dir"/JOB*f.txt 2>/dev/null)
    [ -n "$got" ] && break
    sleep 0.1
done
grep -q "PACKAGED HELLO" <<<"$got" && ok "job delivered by the installed daemon" ||
    bad "no delivered job in $dir: $(ls "$dir"); log: $(cat "$work/daemon.log")"
kill -USR1 $daemon
sleep 0.5
kill -0 $daemon 2>/dev/null && ok "alive after SIGUSR1" || bad "SIGUSR1 stopped the daemon"
lines=$(wc -l <"$work/daemon.log")
kill -TERM $daemon
wait $daemon
rc=$?
[ $rc -eq 0 ] && ok "SIGTERM exit status 0" || bad "SIGTERM exit status $rc; log: $(cat "$work/daemon.log")"
[ "$lines" -ge 2 ] && grep -q "jobs delivered 1," "$work/daemon.log" && ok "summary logged" ||
    bad "no summary line in the log: $(cat "$work/daemon.log")"
finish
