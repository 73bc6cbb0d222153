#!/usr/bin/env bash
# Runs twprinterd once in a temporary directory and shows what it wrote.
set -euo pipefail
BUILD=${1:-build}
DIR=$(mktemp -d /tmp/twprinterdemo.XXXXXX)
export TWPRINTER_DIR=$DIR
echo "INI directory: $DIR"
"$BUILD/twprinterd" -d -h 127.0.0.1 -s 1 2>&1 | head -n 40 || true
echo "--- $DIR/twprinter.ini"
cat "$DIR/twprinter.ini" || true
