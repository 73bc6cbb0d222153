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

echo "== session load, records of 1000 bytes (one twprinterd, 100000 acknowledged SCS records)"
"$HERE/session_load.sh" "$BUILD" 100000 1000 || status=1

echo "== pool (500 LUs in one twprinterd, file medium)"
"$HERE/pool.sh" "$BUILD" 500 2000 80 file || status=1

echo "== pool (500 LUs in one twprinterd, CUPS medium: resident memory)"
"$HERE/pool.sh" "$BUILD" 500 100 80 cups || status=1

echo "== beside it: 50 LUs as processes and as a pool, CUPS medium"
"$HERE/scale.sh" "$BUILD" 50 100 80 cups || status=1
"$HERE/pool.sh" "$BUILD" 50 100 80 cups || status=1

echo "== wire ratio (100000 SCS records of 1000 bytes: twprinterd against a client that prints nothing)"
"$HERE/wire_ratio.sh" "$BUILD" 100000 1000 3 || status=1

echo "== status endpoint (500 LUs in one twprinterd, /metrics read ten times a second: 5 pairs of runs)"
"$HERE/status_scrape.sh" "$BUILD" 500 400 80 5 || status=1

exit $status
