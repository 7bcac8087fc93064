#!/usr/bin/env bash
# Builds the Windows versions of the libraries the cross-build needs, once, into
# a cache directory outside the repository (KX_WIN_CACHE, by default
# /var/cache/kxagent-win), and prints the two install prefixes:
#   <cache>/xerces-c-<version>   Xerces-C++ from Debian's own source package (the
#                                version of libxerces-c-dev), Windows transcoder,
#                                no network access, as a DLL
#   <cache>/googletest-<version> GoogleTest from /usr/src/googletest
# A prefix is complete when its .complete stamp exists; an interrupted build is
# started again from scratch.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${KX_WIN_CACHE:-/var/cache/kxagent-win}
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${KX_JOBS:-2}
mkdir -p "$cache"

xerces_version=$(dpkg-query -W -f='${Version}' libxerces-c-dev | sed 's/+.*//; s/-[^-]*$//')
gtest_version=$(dpkg-query -W -f='${Version}' googletest | sed 's/-[^-]*$//')
xerces_prefix=$cache/xerces-c-$xerces_version
gtest_prefix=$cache/googletest-$gtest_version

log() { echo "windows-deps: $*" >&2; }

build_xerces() {
  local work=$cache/work-xerces
  rm -rf "$work" "$xerces_prefix"
  mkdir -p "$work/lists/partial"
  # A private source list: the system's apt configuration stays untouched.
  cat >"$work/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
LIST
  local apt_opts=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
                  -o Dir::State::Lists="$work/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  log "fetching the xerces-c $xerces_version source package"
  apt-get -qq "${apt_opts[@]}" update
  (cd "$work" && apt-get -qq "${apt_opts[@]}" source --download-only "xerces-c=$(dpkg-query -W -f='${Version}' libxerces-c-dev)")
  local orig
  orig=$(ls "$work"/xerces-c_*.orig.tar.* | head -n1)
  mkdir -p "$work/src"
  tar -xf "$orig" -C "$work/src" --strip-components=1
  log "building xerces-c $xerces_version for Windows (a few minutes)"
  cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$xerces_prefix" -DBUILD_SHARED_LIBS=ON \
    -Dnetwork=OFF -Dtranscoder=windows -Dmessage-loader=inmemory -Dxmlch-type=wchar_t \
    -DCMAKE_CXX_FLAGS="-w" -DCMAKE_C_FLAGS="-w" >"$work/configure.log"
  cmake --build "$work/build" -j"$jobs" --target xerces-c >"$work/build.log"
  # Only the library's own install rules: the samples and tests are not built.
  cmake -DCMAKE_INSTALL_PREFIX="$xerces_prefix" -P "$work/build/src/cmake_install.cmake" >"$work/install.log"
  touch "$xerces_prefix/.complete"
  rm -rf "$work"
}

build_gtest() {
  local work=$cache/work-googletest
  rm -rf "$work" "$gtest_prefix"
  log "building GoogleTest $gtest_version for Windows"
  cmake -S /usr/src/googletest -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DBUILD_GMOCK=ON \
    -Dgtest_disable_pthreads=OFF >"$cache/googletest-configure.log"
  cmake --build "$work" -j"$jobs" >"$cache/googletest-build.log"
  cmake --install "$work" >/dev/null
  touch "$gtest_prefix/.complete"
  rm -rf "$work" "$cache"/googletest-*.log
}

[ -f "$xerces_prefix/.complete" ] || build_xerces
[ -f "$gtest_prefix/.complete" ] || build_gtest
echo "$xerces_prefix;$gtest_prefix"
