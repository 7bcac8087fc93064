#!/usr/bin/env bash
# The Windows build of the same tree, tested under Wine: cross-builds the
# platform layer, the two libraries, the agent and the Windows tests with
# mingw-w64 into build-windows/bin/, runs the tests there in a fresh Wine prefix
# of their own, then runs the agent under Wine on a pseudo-terminal linked as
# the prefix's COM1 (the Linux build's e2e_wine_tests drives it and writes the
# session to build-windows/wine-session.txt). Expects the
# Linux build in build/ (scripts/test.sh makes it first). Prints each stage's time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${KX_JOBS:-$(nproc)}
wine=/usr/lib/wine/wine64
prefix=$root/build-windows/wineprefix
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

stage_start=$SECONDS
stage() {
  echo "== $1 (previous stage: $((SECONDS - stage_start)) s)"
  stage_start=$SECONDS
}

stopwine() { [ -d "$prefix" ] && /usr/lib/wine/wineserver -k 2>/dev/null || true; }
trap stopwine EXIT

stage "Windows libraries (Xerces-C++, GoogleTest; built once into the cache)"
prefixes=$(scripts/windows-deps.sh)

stage "Windows cross-build"
cmake -S "$root" -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DKX_WIN_PREFIXES="$prefixes" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_WERROR=ON \
  -DKX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-windows -j"$jobs"

stage "fresh Wine prefix"
stopwine
rm -rf "$prefix"
# The target systems run in Japanese (ANSI code page 932); Wine takes its code
# page from the locale, compiled here into a directory of the build's own.
[ -d build-windows/locale/ja_JP.UTF-8 ] ||
  { mkdir -p build-windows/locale && localedef -i ja_JP -f UTF-8 build-windows/locale/ja_JP.UTF-8; }
japanese=(env LOCPATH="$root/build-windows/locale" LC_ALL=ja_JP.UTF-8)
"${japanese[@]}" "$wine" wineboot -i >/dev/null 2>&1
# Wine's device manager links COM1 to the machine's /dev/ttyS0 when it exists;
# the agent's session runs on a terminal the test links at terminals/com1.
"${japanese[@]}" "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$prefix/terminals/com1" /f >/dev/null 2>&1
# Windows are made without a display (the configuration tool's tests show its
# sheet): Wine's null graphics driver instead of none.
"${japanese[@]}" "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
stopwine
/usr/lib/wine/wineserver -w 2>/dev/null || true

stage "Windows tests under Wine"
"${japanese[@]}" ctest --test-dir build-windows --output-on-failure --timeout 600

stage "the agent's session under Wine on COM1"
cmake --build build -j"$jobs" --target e2e_wine_tests
"${japanese[@]}" KX_WINDOWS_BIN_DIR="$root/build-windows/bin" KX_WINE_PREFIX="$prefix" \
  KX_WINE_TRANSCRIPT="$root/build-windows/wine-session.txt" build/tests/e2e_wine_tests
# The installer: built with the programs (build-windows/KxAgent-<version>-x64.msi),
# and once more as the next patch version for the upgrade; installed, served,
# upgraded and removed by Wine's msiexec in a prefix of its own. Its table of
# contents goes to build-windows/msi-contents.txt, the steps to msi-transcript.txt.
stage "the installer under Wine (install, serve on COM1, upgrade, uninstall)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
msi=$root/build-windows/KxAgent-$version-x64.msi
next_version=${version%.*}.$((${version##*.} + 1))
next_msi=$root/build-windows/msi-next/KxAgent-$next_version-x64.msi
cmake -DVERSION="$next_version" -DBIN_DIR="$root/build-windows/bin" \
  -DSAMPLE_DIR="$root/build-windows/examples/plugins" -DSOURCE_DIR="$root" -DOUTPUT="$next_msi" \
  -P packaging/msi/BuildMsi.cmake >/dev/null
for table in File Component ServiceInstall ServiceControl Registry; do
  echo "== $table"
  msiinfo export "$msi" "$table"
done >build-windows/msi-contents.txt
msi_prefix=$root/build-windows/wineprefix-msi
stopmsiwine() { [ -d "$msi_prefix" ] && WINEPREFIX=$msi_prefix /usr/lib/wine/wineserver -k 2>/dev/null || true; }
trap 'stopwine; stopmsiwine' EXIT
stopmsiwine
rm -rf "$msi_prefix"
WINEPREFIX=$msi_prefix "${japanese[@]}" "$wine" wineboot -i >/dev/null 2>&1
WINEPREFIX=$msi_prefix "${japanese[@]}" "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 \
  /d "$msi_prefix/terminals/com1" /f >/dev/null 2>&1
stopmsiwine
WINEPREFIX=$msi_prefix /usr/lib/wine/wineserver -w 2>/dev/null || true
cmake --build build -j"$jobs" --target e2e_wine_msi_tests
WINEPREFIX=$msi_prefix "${japanese[@]}" KX_MSI="$msi" KX_MSI_NEXT="$next_msi" KX_WINDOWS_BIN_DIR="$root/build-windows/bin" \
  KX_WINE_PREFIX="$msi_prefix" KX_MSI_TRANSCRIPT="$root/build-windows/msi-transcript.txt" \
  build/tests/e2e_wine_msi_tests

# The Win32 configuration tool's service group against the agent installed as
# a service in the prefix (its other tests ran with the Windows tests above).
stage "the configuration tool's service group under Wine"
cmake --build build -j"$jobs" --target e2e_wine_ctrl_tests
"${japanese[@]}" KX_WINDOWS_BIN_DIR="$root/build-windows/bin" KX_WINE_PREFIX="$prefix" build/tests/e2e_wine_ctrl_tests

stage "done"
