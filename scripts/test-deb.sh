#!/usr/bin/env bash
# The Debian package: builds it from the plain build with CPack, shows its control
# data and contents, checks it with lintian (no error or warning may remain),
# unpacks it into a temporary root and runs its agent from there through the
# end-to-end harness (a logon and show version on a pseudo-terminal, named the way
# kxagent@<port>.service names its port), and checks the unit with
# systemd-analyze verify. Needs a configured plain build (KX_BUILD_DIR, default
# build); scripts/test.sh runs it after the plain build's tests.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${KX_BUILD_DIR:-build}"

cmake --build "$build" --target KxAgent KxPowerHelper eventcreate sc e2e_package_tests >/dev/null
rm -rf "$build/packages"
cpack_log=$(cpack --config "$build/CPackConfig.cmake" 2>&1) || { echo "$cpack_log" >&2; exit 1; }
deb=$(ls "$build"/packages/kxagent_*.deb)

work=$(mktemp -d "${TMPDIR:-/tmp}/kx-deb-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== $deb"
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"

echo "== lintian (overridden tags shown with their reasons)"
# lintian warns when run as root; the tags are what counts.
# --show-overrides makes the overridden tags count for --fail-on, so the
# verdict comes from a second run without it (a few seconds).
lintian --show-overrides "$deb" 2>&1 | grep -v '^running with root privileges is not recommended!$' || true
lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || {
  echo "lintian: errors or warnings" >&2
  exit 1
}

echo "== the unpacked package's agent"
root="$work/root"
mkdir "$root"
dpkg-deb -x "$deb" "$root"
KX_PACKAGE_ROOT="$root" "$build/tests/e2e_package_tests" --gtest_brief=1

echo "== systemd-analyze verify"
# The unit is verified inside a root that holds the package and the units it
# names (sysinit.target, serial-getty@.service, ...) from this system.
mkdir -p "$root/usr/lib/systemd"
cp -a /usr/lib/systemd/system "$root/usr/lib/systemd/"
verify=$(systemd-analyze verify --root="$root" kxagent@ttyS0.service kxagent@ttyUSB0.service 2>&1) || {
  echo "$verify" >&2
  exit 1
}
if [ -n "$verify" ]; then
  echo "$verify" >&2
  exit 1
fi
echo "kxagent@ttyS0.service, kxagent@ttyUSB0.service: no findings"
