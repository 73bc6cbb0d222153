#!/usr/bin/env bash
# Mutation testing of the engine: each mutation of LIST is applied to the
# source, the build is brought up to date and the test suite is run; a mutation
# the suite does not notice survives.
#
#   tools/mutate.sh [--dry-run] [BUILD_DIR] [LIST]
#     BUILD_DIR  default buildmut (configured here: RelWithDebInfo, no benchmarks,
#                warnings not errors: a mutant that only warns is for the tests to catch)
#     LIST       default tools/mutations.txt
#     --dry-run  only shows where each mutation applies; builds and runs nothing
#   MUTATE_ONLY="ID ID..."  runs only these mutations
#   MUTATE_SKIP_BASELINE=1  skips the check that the unmutated suite passes
#   MUTATE_JOBS (2), MUTATE_TEST_TIMEOUT (900 s for one whole suite run)
#   MUTATE_CTEST_ARGS  added to every ctest call; default -LE 'package|container'
#                      (the package and container tests try no engine behaviour)
#
# LIST holds one block per mutation, blocks separated by a blank line:
#   # <id> <short description>
#   - <exact search text, one line>
#   + <replacement text, one line; empty deletes the search text>
# Several -/+ pairs are alternatives (the same mutation written for other forms
# of the code): the first pair whose search text occurs exactly once in all of
# src/session, src/datastream, src/output and src/config is applied. Lines
# starting with ## are comments.
#
# The file is restored after each mutation and whenever the script ends,
# however it ends. A mutation with no unique match is reported as not applied
# and counts as not killed.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

DRY=0
if [ "${1:-}" = --dry-run ]; then
  DRY=1
  shift
fi
BUILD=${1:-buildmut}
LIST=${2:-tools/mutations.txt}
JOBS=${MUTATE_JOBS:-2}
TEST_TIMEOUT=${MUTATE_TEST_TIMEOUT:-900}
SEARCH_DIRS=(src/session src/datastream src/output src/config)
# A Qt test that is ended early must not start a debugger for its stack.
export QTEST_DISABLE_STACK_DUMP=1
read -r -a CTEST_EXTRA <<<"${MUTATE_CTEST_ARGS--LE package|container}"

[ -f "$LIST" ] || { echo "mutate: no list $LIST" >&2; exit 2; }

# ---- the list -------------------------------------------------------------

ids=() descs=() first=() count=()
searches=() replacements=()
cur=-1
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%$'\r'}
  case "$line" in
    '##'*) ;;
    '# '*)
      rest=${line#\# }
      ids+=("${rest%% *}")
      if [ "$rest" = "${rest#* }" ]; then descs+=(""); else descs+=("${rest#* }"); fi
      cur=$((${#ids[@]} - 1))
      first[cur]=${#searches[@]}
      count[cur]=0
      ;;
    '- '*)
      [ "$cur" -ge 0 ] || { echo "mutate: search text outside a block: $line" >&2; exit 2; }
      searches+=("${line#- }")
      replacements+=("")
      count[cur]=$((count[cur] + 1))
      ;;
    '+' | '+ '*)
      [ "$cur" -ge 0 ] && [ "${#searches[@]}" -gt "${first[cur]}" ] ||
        { echo "mutate: replacement without a search text: $line" >&2; exit 2; }
      replacements[${#searches[@]} - 1]=${line#+}
      replacements[${#searches[@]} - 1]=${replacements[${#searches[@]} - 1]# }
      ;;
    '') cur=-1 ;;
    *) echo "mutate: line not understood: $line" >&2; exit 2 ;;
  esac
done <"$LIST"
N=${#ids[@]}
[ "$N" -gt 0 ] || { echo "mutate: $LIST holds no mutation" >&2; exit 2; }

wanted() { # id
  [ -z "${MUTATE_ONLY:-}" ] && return 0
  local k
  for k in $MUTATE_ONLY; do [ "$k" = "$1" ] && return 0; done
  return 1
}
selected=0
for ((i = 0; i < N; i++)); do wanted "${ids[i]}" && selected=$((selected + 1)); done

mapfile -t SOURCES < <(find "${SEARCH_DIRS[@]}" -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.cc' -o -name '*.inc' \) 2>/dev/null | sort)

# The one file that holds TEXT exactly once over all sources, or nothing.
unique_file() {
  MUT_TEXT=$1 perl -e '
    my ($total, $where) = (0, "");
    for my $f (@ARGV) {
      open(my $h, "<", $f) or next;
      local $/;
      my $s = <$h>;
      my $n = () = $s =~ /\Q$ENV{MUT_TEXT}\E/g;
      $total += $n;
      $where = $f if $n;
    }
    print $where if $total == 1;
  ' "${SOURCES[@]}"
}

# ---- applying and restoring -----------------------------------------------

WORK=$(mktemp -d "${TMPDIR:-/tmp}/mutate.XXXXXX")
live_file="" # the source file now mutated
CHILD=""
done_count=0 killed=0
survivors=() missing=()
results_done=0
in_loop=0

restore() {
  [ -n "$live_file" ] || return 0
  if cmp -s "$live_file" "$WORK/mutant"; then
    cat "$WORK/pristine" >"$live_file"
  else
    # Someone changed the file meanwhile: take the mutation out of their text.
    local copy="$WORK/conflict.$(basename "$live_file")"
    cp "$live_file" "$copy"
    if MUT_S=$live_search MUT_R=$live_replacement perl -0777 -e '
         local $/; my $s = <STDIN>;
         my $n = () = $s =~ /\Q$ENV{MUT_R}\E/g;
         exit 1 unless length($ENV{MUT_R}) && $n == 1;
         $s =~ s/\Q$ENV{MUT_R}\E/$ENV{MUT_S}/; print $s;' <"$copy" >"$WORK/undone"; then
      cat "$WORK/undone" >"$live_file"
      echo "mutate: $live_file changed during the run; the mutation was taken out of it" >&2
    else
      cat "$WORK/pristine" >"$live_file"
      cp "$copy" "$live_file.mutate-conflict"
      echo "mutate: $live_file changed during the run; restored, the changed copy is" \
        "$live_file.mutate-conflict" >&2
    fi
  fi
  live_file=""
}

summary() {
  local ran=$1
  if [ "$ran" -lt "$selected" ]; then
    echo "interrupted after $ran of $selected mutations"
  fi
  echo "killed $killed of $ran"
  if [ ${#survivors[@]} -gt 0 ]; then
    echo "survived:"
    printf '  %s\n' "${survivors[@]}"
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    echo "not applied:"
    printf '  %s\n' "${missing[@]}"
  fi
}

on_exit() {
  local rc=$?
  end_child
  restore
  rm -rf "$WORK"
  if [ "$DRY" = 0 ] && [ "$results_done" = 0 ] && [ "$in_loop" = 1 ]; then
    summary "$done_count"
  fi
  exit "$rc"
}
trap on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a command under a time limit (its whole process group is ended on
# expiry) in the background, so that a signal to this script is seen at once.
# Ends the limited command and everything it started (timeout leads its own
# process group): TERM first, KILL for what is left, such as a debugger that a
# test's crash handler started on the TERM.
end_child() {
  [ -n "$CHILD" ] || return 0
  kill -TERM -- -"$CHILD" 2>/dev/null || kill -TERM "$CHILD" 2>/dev/null
  local k
  for k in 1 2 3 4 5 6; do
    kill -0 -- -"$CHILD" 2>/dev/null || break
    sleep 0.5
  done
  kill -KILL -- -"$CHILD" 2>/dev/null
  wait "$CHILD" 2>/dev/null
  CHILD=""
}

# With WATCH set, the command is ended as soon as its log shows a line
# matching WATCH, and the result is 1.
WATCH=""
run_limited() { # seconds log command...
  local secs=$1 log=$2
  shift 2
  timeout -k 20 "$secs" "$@" >"$log" 2>&1 &
  CHILD=$!
  local rc
  if [ -n "$WATCH" ]; then
    while kill -0 "$CHILD" 2>/dev/null; do
      if grep -Eq "$WATCH" "$log" 2>/dev/null; then
        end_child
        return 1
      fi
      sleep 1
    done
  fi
  wait "$CHILD"
  rc=$?
  CHILD=""
  return "$rc"
}

build() { # log
  run_limited 3600 "$1" cmake --build "$BUILD" -j"$JOBS"
}

ctest_run() { # log ctest-args...
  local log=$1
  shift
  # The first failure decides: tests still running are not waited for.
  WATCH='\*\*\*(Failed|Timeout|Exception)|\*\*\*Not Run' run_limited "$TEST_TIMEOUT" "$log.part" \
    ctest --test-dir "$BUILD" -j"$JOBS" --timeout 120 --stop-on-failure --output-on-failure \
    "${CTEST_EXTRA[@]}" "$@"
  local rc=$?
  cat "$log.part" >>"$log"
  rm -f "$log.part"
  return "$rc"
}

# Fail fast: the quick tests first, then the slower, then the slowest (the
# times of the baseline run; ctest itself would start the slowest first).
TIER_MID="" TIER_SLOW=""
make_tiers() {
  local costs=$BUILD/Testing/Temporary/CTestCostData.txt
  [ -f "$costs" ] || return 0
  TIER_MID=$(awk '$0 == "---" { exit } NF == 3 && $1 ~ /^[A-Za-z0-9_.\/-]+$/ && $3 >= 1 && $3 < 8 {
      gsub(/\./, "\\.", $1); printf "%s%s", (n++ ? "|" : ""), $1 }' "$costs")
  TIER_SLOW=$(awk '$0 == "---" { exit } NF == 3 && $1 ~ /^[A-Za-z0-9_.\/-]+$/ && $3 >= 8 {
      gsub(/\./, "\\.", $1); printf "%s%s", (n++ ? "|" : ""), $1 }' "$costs")
}

run_suite() { # log
  : >"$1"
  if [ -z "$TIER_MID$TIER_SLOW" ]; then
    ctest_run "$1"
    return
  fi
  local both="^(${TIER_MID}${TIER_MID:+${TIER_SLOW:+|}}${TIER_SLOW})\$"
  ctest_run "$1" -E "$both" || return
  if [ -n "$TIER_MID" ]; then ctest_run "$1" -R "^(${TIER_MID})\$" || return; fi
  if [ -n "$TIER_SLOW" ]; then ctest_run "$1" -R "^(${TIER_SLOW})\$" || return; fi
}

failed_tests() { # log
  grep -E 'Test +#[0-9]+: .*\*\*\*' "$1" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/' |
    head -n 3 | paste -sd ' ' -
}

# ---- the run --------------------------------------------------------------

if [ "$DRY" = 0 ]; then
  LOGS=$BUILD/mutate-logs
  echo "configuring $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTWPRINTER_BENCH=OFF \
    -DTWPRINTER_UI=ON -DTWPRINTER_TESTS=ON -DTWPRINTER_SANITIZE=OFF -DTWPRINTER_TSAN=OFF \
    -DTWPRINTER_FUZZ=OFF -DTWPRINTER_WERROR=OFF >"$WORK/configure.log" 2>&1 ||
    { cat "$WORK/configure.log"; echo "mutate: configure failed" >&2; exit 2; }
  mkdir -p "$LOGS"
  echo "building the unmutated source"
  build "$LOGS/baseline-build.log" ||
    { tail -n 30 "$LOGS/baseline-build.log"; echo "mutate: the unmutated source does not build" >&2; exit 2; }
  if [ "${MUTATE_SKIP_BASELINE:-0}" != 1 ]; then
    echo "running the suite on the unmutated source"
    run_suite "$LOGS/baseline-test.log" || {
      tail -n 30 "$LOGS/baseline-test.log"
      echo "mutate: the suite fails without any mutation; nothing to measure" >&2
      exit 2
    }
  fi
  make_tiers
fi

start=$(date +%s)
in_loop=1
n=0
for ((i = 0; i < N; i++)); do
  id=${ids[i]} desc=${descs[i]}
  wanted "$id" || continue
  n=$((n + 1))
  file="" live_search="" live_replacement=""
  for ((p = first[i]; p < first[i] + count[i]; p++)); do
    file=$(unique_file "${searches[p]}")
    if [ -n "$file" ]; then
      live_search=${searches[p]} live_replacement=${replacements[p]}
      break
    fi
  done
  label="[$n/$selected] $id $desc"
  if [ -z "$file" ]; then
    echo "$label: not applied (no unique match)"
    missing+=("$id $desc")
    done_count=$((done_count + 1))
    continue
  fi
  if [ "$DRY" = 1 ]; then
    echo "$label: $file (pair $((p - first[i] + 1)))"
    done_count=$((done_count + 1))
    continue
  fi

  cp "$file" "$WORK/pristine"
  MUT_S=$live_search MUT_R=$live_replacement perl -0777 -e '
    local $/; my $s = <STDIN>; $s =~ s/\Q$ENV{MUT_S}\E/$ENV{MUT_R}/; print $s;' \
    <"$WORK/pristine" >"$WORK/mutant"
  live_file=$file
  cat "$WORK/mutant" >"$file"

  t0=$(date +%s)
  if ! build "$LOGS/$id-build.log"; then
    verdict="killed (build)"
    killed=$((killed + 1))
  elif run_suite "$LOGS/$id-test.log"; then
    verdict="SURVIVED"
    survivors+=("$id $desc")
  else
    rc=$?
    killed=$((killed + 1))
    if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
      verdict="killed (suite timed out)"
    else
      verdict="killed ($(failed_tests "$LOGS/$id-test.log"))"
    fi
  fi
  restore
  done_count=$((done_count + 1))
  echo "$label: $file: $verdict [$(($(date +%s) - t0))s]"
done

if [ "$DRY" = 1 ]; then
  echo "$((done_count - ${#missing[@]})) of $done_count apply"
  [ ${#missing[@]} -eq 0 ] || { echo "not applied:"; printf '  %s\n' "${missing[@]}"; }
  results_done=1
  exit 0
fi
echo "time $(($(date +%s) - start))s"
summary "$done_count"
results_done=1
# The build folder holds objects of the last mutant: the next build remakes them.
exit 0
