#!/usr/bin/env bash
# Developer entry point: deps, build, test, tsan, mutate, demo, fuzz, bench, screenshot, package.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=$(nproc 2>/dev/null || echo 2)

PACKAGES=(
  build-essential cmake pkg-config g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcairo2-dev libcups2-dev cups cups-client cups-bsd printer-driver-cups-pdf poppler-utils
  fonts-dejavu-core fonts-ipafont-gothic libssl-dev openssl libsystemd-dev systemd man-db debootstrap
  qt6-base-dev libqt6svg6 shared-mime-info xvfb xauth tshark
  libsqlite3-dev zlib1g-dev hercules
  libmicrohttpd-dev prometheus curl chromium
)

need_sudo() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

cmd_deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    need_sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive need_sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

configure() { # dir extra-cmake-args...
  local dir=$1; shift
  # Our own builds treat warnings as errors; a packager's build need not.
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTWPRINTER_WERROR=ON "$@" >/dev/null
}

cmd_build() {
  cmd_deps
  configure build
  cmake --build build -j"$JOBS"
}

run_ctest() { # dir ctest-args...
  local dir=$1; shift
  (cd "$dir" && ctest --output-on-failure -j"$JOBS" --timeout 600 "$@")
}

# The build a packager makes: Release, clean with -Wall -Wextra. The package and
# the container image are made and tested from it.
cmd_release() {
  cmd_deps
  configure buildrel -DCMAKE_BUILD_TYPE=Release -DTWPRINTER_BENCH=OFF
  cmake --build buildrel -j"$JOBS"
}

cmd_test() {
  cmd_build
  run_ctest build -LE 'package|container'
  configure buildasan -DTWPRINTER_SANITIZE=ON -DTWPRINTER_BENCH=OFF
  cmake --build buildasan -j"$JOBS"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$ROOT/tools/lsan.supp run_ctest buildasan
  cmd_release
  run_ctest buildrel -L 'package|container'
}

# The session and window tests under ThreadSanitizer. The window tests start
# programs from a process that already runs threads (die_after_fork=0 lets the
# child reach its exec).
cmd_tsan() {
  cmd_deps
  configure buildtsan -DTWPRINTER_TSAN=ON -DTWPRINTER_BENCH=OFF
  cmake --build buildtsan -j"$JOBS"
  local tsan=halt_on_error=1:second_deadlock_stack=1:die_after_fork=0
  TSAN_OPTIONS=$tsan:suppressions=$ROOT/tools/tsan.supp run_ctest buildtsan \
    -R '^(Session|TelProcSplit|TlsTest|Daemon|Protocol|Tls|Pool)\.|^ui_(client|fields|sessionfile)_test'
  TSAN_OPTIONS=$tsan:suppressions=$ROOT/tools/tsan_widgets.supp run_ctest buildtsan \
    -R '^ui_(layout|window)_test'
}

# Mutation testing of the engine (tools/mutate.sh): a rebuild and a test run per mutation.
cmd_mutate() { # [list] (default tools/mutations.txt)
  cmd_deps
  tools/mutate.sh buildmut "${1:-tools/mutations.txt}"
}

cmd_fuzz() { # seconds per target (default 20)
  cmd_deps
  local secs=${1:-20}
  CC=clang CXX=clang++ cmake -S "$ROOT" -B buildfuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTWPRINTER_FUZZ=ON -DTWPRINTER_TESTS=OFF -DTWPRINTER_BENCH=OFF -DTWPRINTER_UI=OFF >/dev/null
  cmake --build buildfuzz -j"$JOBS"
  for f in buildfuzz/*_fuzz; do
    local name; name=$(basename "$f")
    local corpus=fuzz/corpus/${name%_fuzz}
    mkdir -p "$corpus"
    # New corpus entries and the log go to memory when it can: a file made on
    # disk per new entry cost the first seconds half their inputs.
    local work; work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
    echo "== $name (${secs}s)"
    # A crash input is kept in buildfuzz/ and the target's own frames are shown,
    # so that a failure seen once in CI can be replayed.
    # A small quarantine keeps freed blocks' pages warm: each input builds a
    # whole session, and fresh pages per input halved the rate. Use after free
    # within an input is still caught. Six frames of each block's allocation
    # stack name its owner; the full depth cost every input a sixth of its time.
    if ! (cd "$work" && ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=6} "$ROOT/$f" -max_total_time="$secs" -rss_limit_mb=1024 -timeout=10 \
      -artifact_prefix="$ROOT/buildfuzz/$name-" -print_final_stats=1 "$work" "$ROOT/$corpus" \
      >"$work/log" 2>&1); then
      grep -E '^==|ERROR|SUMMARY|#[0-9]+ .* in (LLVMFuzzerTestOneInput|[A-Z][A-Za-z]+::)' "$work/log" | head -n 40
      grep -E 'Test unit written|^0x' "$work/log" | head -n 5
      rm -rf "$work"
      return 1
    fi
    tail -n 6 "$work/log"
    rm -rf "$work"
  done
}

cmd_bench() {
  cmd_build
  for b in build/*_bench; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_counters_tabular=true
  done
  [ -x bench/run_extra.sh ] && bench/run_extra.sh build || true
}

cmd_demo() {
  cmd_build
  exec tools/demo.sh build
}

cmd_screenshot() {
  cmd_build
  exec tools/screenshot.sh build
}

cmd_package() {
  cmd_release
  (cd buildrel && cpack -G DEB)
}

case "${1:-}" in
  deps) cmd_deps ;;
  build) cmd_build ;;
  test) cmd_test ;;
  tsan) cmd_tsan ;;
  mutate) shift; cmd_mutate "$@" ;;
  demo) cmd_demo ;;
  fuzz) shift; cmd_fuzz "$@" ;;
  bench) cmd_bench ;;
  screenshot) cmd_screenshot ;;
  release) cmd_release ;;
  package) cmd_package ;;
  *) echo "usage: $0 {deps|build|test|tsan|mutate [list]|release|demo|fuzz [secs]|bench|screenshot|package}"; exit 2 ;;
esac
