#!/bin/sh
# Fails when a layer includes a header of a layer above it:
# ui, service -> session -> datastream -> output -> config -> platform, and the
# archive beside output and datastream: only the session knows it.
src=${1:?source dir}
rc=0
check() { # layer, the layers it must not include
    layer=$1; shift
    for above in "$@"; do
        hits=$(grep -rnE "#include \"$above/" "$src/$layer" 2>/dev/null)
        if [ -n "$hits" ]; then
            echo "$layer includes $above:"; echo "$hits"; rc=1
        fi
    done
}
check platform config output archive datastream session service ui
check config output archive datastream session service ui
check output archive datastream session service ui
check archive output datastream session service ui
check datastream archive session service ui
check session service ui
exit $rc
