#!/usr/bin/env bash
# Measured loopback runs beyond the Google Benchmark programs; $1 is the build dir.
# Each section is independent; add new ones at the end.
BUILD=${1:-build}
HERE=$(dirname "$0")
status=0

echo "== scale (50 twprinterd processes, one host simulator)"
"$HERE/scale.sh" "$BUILD" 50 2000 80 || status=1

echo "== session load (one twprinterd, 100000 acknowledged SCS records)"
"$HERE/session_load.sh" "$BUILD" 100000 80 || status=1

exit $status
