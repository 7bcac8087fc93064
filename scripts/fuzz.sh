#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang in build-fuzz/ (or $KX_FUZZ_BUILD_DIR)
# and runs the command-engine harness for the given number of seconds (default 60).
# Extra arguments go to libFuzzer. The corpus persists in <build dir>/corpus/engine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
build=${KX_FUZZ_BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKX_BUILD_FUZZERS=ON -DKX_BUILD_TESTS=ON -DKX_BUILD_BENCHMARKS=OFF -DKX_BUILD_CTRL=OFF >/dev/null
cmake --build "$build" -j2 --target engine_fuzzer

mkdir -p "$build/corpus/engine"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$build/tests/engine_fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$@" \
  "$build/corpus/engine"
