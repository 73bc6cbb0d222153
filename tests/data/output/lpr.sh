#!/bin/sh
# A print command for the output test: appends the job and its arguments to
# "received" beside it; fails like a jammed printer for a job with a line that
# matches one of "jammed".
dir=$(dirname "$0")
job="$dir/job.$$"
cat >"$job"
if [ -e "$dir/jammed" ] && grep -q -f "$dir/jammed" "$job"; then
    echo 'paper jam' >&2
    rm -f "$job"
    exit 1
fi
cat "$job" >>"$dir/received"
rm -f "$job"
echo "args:$*" >>"$dir/received"
