#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang in build-fuzz/ (or $KX_FUZZ_BUILD_DIR)
# and runs one of them for the given number of seconds (default 60):
#   scripts/fuzz.sh [SECONDS] [HARNESS] [libFuzzer options...]
# HARNESS is engine (the default), sysconfig, command_xml, catalogue,
# eventcreate or sc. The corpus persists in <build dir>/corpus/<harness>, and
# starts from the seeds in tests/fuzz/seeds/<harness> when there are any.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
harness=engine
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  harness=$1
  shift
fi
build=${KX_FUZZ_BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKX_BUILD_FUZZERS=ON -DKX_BUILD_TESTS=ON -DKX_BUILD_BENCHMARKS=OFF -DKX_BUILD_CTRL=OFF >/dev/null
cmake --build "$build" -j2 --target "${harness}_fuzzer"

corpus="$build/corpus/$harness"
mkdir -p "$corpus"
seeds=()
[ -d "tests/fuzz/seeds/$harness" ] && seeds=("tests/fuzz/seeds/$harness")
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$build/tests/${harness}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$build/$harness-" "$@" "$corpus" "${seeds[@]}"
