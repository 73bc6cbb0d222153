#!/bin/bash
# Proves the Dockerfile. A Debian bookworm root is made with debootstrap (kept in
# CACHE_DIR between runs); then the image is built and run with a container engine
# when one works here, else the Dockerfile's own steps (FROM, WORKDIR, ENV, COPY,
# RUN, USER, ENTRYPOINT) are carried out in copies of that root with chroot. Either
# way the image's twprinterd must take a job from the host simulator and stop on
# SIGTERM with status 0.
# Usage: container_test.sh SOURCE_DIR CACHE_DIR HOSTSIM   (exit 77: cannot run here)
set -u
. "$(dirname "$0")/hostsim_job.sh"
src=$1 cache=$2 hostsim=$3
[ "$(id -u)" = 0 ] || { echo "SKIP: debootstrap and chroot need root"; exit 77; }
command -v debootstrap >/dev/null || { echo "SKIP: debootstrap is not installed"; exit 77; }

passed=0 failed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
finish() { echo "$passed passed, $failed failed"; [ $failed -eq 0 ]; exit $?; }

# The machine's own Debian mirror, from its apt sources.
mirror=$(sed -n 's/^URIs: *\([^ ]*debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
[ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(http[^ ]*debian\) .*/\1/p' /etc/apt/sources.list 2>/dev/null | head -1)

base=$cache/bookworm
mkdir -p "$cache"
if [ ! -x "$base/bin/sh" ] || [ ! -f "$base/.complete" ]; then
    # A mirror the machine does not use is one it may not be allowed to reach.
    [ -n "$mirror" ] || { echo "SKIP: the apt sources name no Debian mirror to make a bookworm root from"; exit 77; }
    rm -rf "$base"
    if ! debootstrap --variant=minbase bookworm "$base" "$mirror" >"$cache/debootstrap.log" 2>&1; then
        tail -5 "$cache/debootstrap.log"
        echo "SKIP: debootstrap cannot make a bookworm root from $mirror here"
        rm -rf "$base"
        exit 77
    fi
    touch "$base/.complete"
fi
ok "bookworm root from ${mirror:-the cache}"

work=$(mktemp -d /tmp/twctr.XXXXXX)
mounts=() pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# The host simulator on loopback, which the container shares.
start_hostsim "$work" "CONTAINER HELLO" 600000
spool=
settings() { # the LU's settings for a spool folder inside the container
    printf '[CONFIGURATION]\nHOSTNAME=127.0.0.1\nSERVERNAME=%s\nLUTYPE=1\n3270E=1\nFILENAME=%s/JOB\nPRINTTOFILE=1\n' \
        "$port" "$1"
}

engine=
for e in podman docker; do
    command -v $e >/dev/null && $e info >/dev/null 2>&1 && { engine=$e; break; }
done

if [ -n "$engine" ]; then
    # The root stands in for debian:bookworm-slim, so nothing is pulled.
    tar -C "$base" -c . | $engine import - debian:bookworm-slim >/dev/null &&
        $engine build --pull=never -t twprinterd-test "$src" >"$work/build.log" 2>&1 &&
        ok "image built with $engine" || { tail -20 "$work/build.log"; bad "$engine build"; finish; }
    mkdir -p "$work/lu" && settings /var/lib/twprinter >"$work/lu/twprinter.ini" && chown -R 10001:10001 "$work/lu"
    $engine run --rm --network host --name twprinterd-test -v "$work/lu:/var/lib/twprinter" \
        twprinterd-test >"$work/daemon.log" 2>&1 &
    daemon=$!
    pids+=($daemon)
    spool=$work/lu
    stop() { $engine stop -t 10 twprinterd-test >/dev/null 2>&1; wait $daemon; }
else
    echo "no container engine works here: running the Dockerfile's steps with chroot"
    # Dockerfile lines, continuations joined.
    sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$src/Dockerfile" | grep -v '^\s*#' | grep -v '^\s*$' >"$work/steps"
    declare -A stage_root=()
    stages=0 root= wd=/ user= entry= envs=()
    enter_stage() { # name
        stages=$((stages + 1))
        root=$work/stage$stages
        cp -a "$base" "$root"
        cp /etc/resolv.conf "$root/etc/resolv.conf"
        for m in proc dev sys; do
            mount --bind "/$m" "$root/$m" && mounts+=("$root/$m")
        done
        stage_root[${1:-$stages}]=$root
        wd=/ user= envs=()
    }
    in_root() { # command line, run as the Dockerfile's RUN does
        chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            HOME=/root "${envs[@]}" /bin/sh -c "cd '$wd' && $1"
    }
    while read -r op rest; do
        case ${op^^} in
        FROM) name=; [[ $rest =~ [Aa][Ss][[:space:]]+([^[:space:]]+) ]] && name=${BASH_REMATCH[1]}
              enter_stage "$name" ;;
        WORKDIR) wd=$rest; mkdir -p "$root$wd" ;;
        ENV) envs+=("${rest/ /=}") ;;
        USER) user=$rest ;;
        ENTRYPOINT) entry=$(sed 's/^\[ *"\(.*\)" *\]$/\1/; s/" *, *"/ /g' <<<"$rest") ;;
        RUN) if ! in_root "$rest" >>"$work/build.log" 2>&1; then
                 tail -30 "$work/build.log"; bad "RUN $rest"; finish
             fi ;;
        COPY) from=$src
              if [[ $rest == --from=* ]]; then
                  stage=${rest%% *}
                  from=${stage_root[${stage#--from=}]}
                  rest=${rest#* }
              fi
              read -r -a parts <<<"$rest"
              dest=${parts[-1]}
              [[ $dest == /* ]] || dest=$wd/$dest
              for s in "${parts[@]:0:${#parts[@]}-1}"; do
                  if [ -d "$from/$s" ]; then
                      mkdir -p "$root$dest" && cp -a "$from/$s/." "$root$dest/"
                  else
                      [[ $dest == */ ]] && mkdir -p "$root$dest"
                      cp -a "$from/$s" "$root$dest"
                  fi
              done ;;
        *) ;; # VOLUME, STOPSIGNAL, LABEL, EXPOSE: nothing to do in a chroot
        esac
    done <"$work/steps"
    [ -n "$entry" ] && [ -d "$root/var/lib/twprinter" ] && ok "Dockerfile steps carried out in chroot" ||
        { bad "the Dockerfile's steps left no ENTRYPOINT and spool folder"; finish; }
    spool=$root/var/lib/twprinter
    settings /var/lib/twprinter >"$spool/twprinter.ini"
    chown -R "${user:-0:0}" "$spool"
    chroot --userspec="${user:-0:0}" "$root" /usr/bin/env -i "${envs[@]}" /bin/sh -c \
        "cd '$wd' && exec $entry" >"$work/daemon.log" 2>&1 &
    daemon=$!
    pids+=($daemon)
    stop() { kill -TERM $daemon; wait $daemon; }
fi

got=
for _ in $(seq 300); do
    got=$(cat "$spool"/JOB*f.txt 2>/dev/null)
    [ -n "$got" ] && break
    sleep 0.1
done
grep -q "CONTAINER HELLO" <<<"$got" && ok "twprinterd in the image took a job from the host" ||
    bad "no delivered job in $spool: $(ls "$spool"); log: $(cat "$work/daemon.log")"
stop
rc=$?
[ $rc -eq 0 ] && ok "SIGTERM exit status 0" || bad "SIGTERM exit status $rc; log: $(cat "$work/daemon.log")"
finish
