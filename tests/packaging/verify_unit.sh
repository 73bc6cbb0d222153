#!/bin/sh
# Checks the systemd template unit with systemd itself: the unit loads clean for
# an instance (every directive known, the program executable), and its sandbox
# keeps the exposure score low, so a dropped protection fails here.
# Usage: verify_unit.sh UNIT_FILE PROGRAM   (exit 77: systemd-analyze unusable)
set -u
unit=$1 program=$2
command -v systemd-analyze >/dev/null 2>&1 || { echo "SKIP: no systemd-analyze"; exit 77; }
dir=$(mktemp -d /tmp/twunit.XXXXXX)
trap 'rm -rf "$dir"' EXIT
# A template is checked as instance lu01, a plain unit as itself.
base=$(basename "$unit")
case $base in
*@.service) name=${base%@.service}@lu01.service ;;
*) name=$base ;;
esac
sed "s#/usr/bin/twprinterd#$program#" "$unit" > "$dir/$base"
# systemd-analyze may not run at all in a restricted container.
probe=$(systemd-analyze --version 2>&1) || { echo "SKIP: systemd-analyze unusable: $probe"; exit 77; }
fail=0
out=$(cd "$dir" && systemd-analyze verify --man=no "$dir/$name" 2>&1)
if [ $? -ne 0 ] || [ -n "$out" ]; then
    echo "FAIL: systemd-analyze verify reported:"; echo "$out"; fail=1
else
    echo "ok: verify $name"
fi
# A unit the verifier must reject proves that it looks at what we give it.
sed 's/^Type=notify/Type=notifyy/' "$dir/$base" > "$dir/twbroken@.service"
bad=$(cd "$dir" && systemd-analyze verify --man=no "$dir/twbroken@x.service" 2>&1)
if [ $? -eq 0 ] && [ -z "$bad" ]; then
    echo "FAIL: a broken unit passed verification"; fail=1
else
    echo "ok: broken unit rejected"
fi
rm -f "$dir/twbroken@.service"
sec=$(cd "$dir" && systemd-analyze security --offline=true --threshold=30 "$dir/$name" 2>&1)
if [ $? -ne 0 ]; then
    echo "FAIL: exposure above 3.0:"; echo "$sec" | grep -E '✗|Overall'; fail=1
else
    echo "ok: $(echo "$sec" | grep Overall)"
fi
[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
