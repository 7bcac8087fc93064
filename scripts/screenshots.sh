#!/usr/bin/env bash
# Builds the configuration tool and saves a picture of each of its five pages,
# drawn offscreen with the Japanese fonts, in build/screenshots/ (or the
# directory given).
# Usage: scripts/screenshots.sh [output directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
output=${1:-"$root/build/screenshots"}

scripts/setup.sh
cmake -S "$root" -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target ctrl_screenshots
QT_QPA_PLATFORM=offscreen build/tests/ctrl_screenshots "$output"
