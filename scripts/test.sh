#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: the plain build
# (unit, integration and end-to-end tests), the Debian package made from it
# (scripts/test-deb.sh), then the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Windows build under Wine (scripts/test-windows.sh).
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh

jobs=$(nproc)

echo "== plain build"
cmake -S "$root" -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

echo "== Debian package: built, inspected, run unpacked, unit verified"
scripts/test-deb.sh

echo "== sanitizer build (the unit tests and what they load)"
cmake -S "$root" -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON -DKX_WERROR=ON \
  -DKX_BUILD_BENCHMARKS=OFF -DKX_BUILD_CTRL=OFF >/dev/null
cmake --build build-asan -j"$jobs" --target unit_tests
echo "== unit tests under ASan + UBSan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -L unit --output-on-failure -j"$jobs" --timeout 300

echo "== Windows build and tests under Wine"
scripts/test-windows.sh
