#!/usr/bin/env bash
# The Debian package: builds it from the plain build with CPack, shows its control
# data and contents, checks it with lintian (no error or warning may remain),
# installs, upgrades and purges it with dpkg in a temporary root (as root),
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

echo "== dpkg: install, upgrade over an edited configuration, purge (in a temporary root)"
# Owners and modes need root; without it the step is left out, and says so.
check_dpkg() {
  # dpkg runs the maintainer scripts outside the root with DPKG_ROOT set, as it
  # does for a system being bootstrapped; the root's own users and groups are
  # this system's. Its dependencies are this system's too (--force-depends).
  droot="$work/dpkg-root"
  admin="$droot/var/lib/dpkg"
  mkdir -p "$admin/info" "$admin/updates" "$admin/triggers" "$droot/etc"
  touch "$admin/status"
  cp /etc/passwd /etc/group "$droot/etc/"
  dpkg_log="$work/dpkg.log"
  run_dpkg() {
    dpkg --root="$droot" --force-script-chrootless --force-depends --force-confold --log=/dev/null "$@" \
      >>"$dpkg_log" 2>&1 || { cat "$dpkg_log" >&2; echo "dpkg $* failed" >&2; exit 1; }
  }
  expect() {  # expect WHAT ACTUAL EXPECTED
    if [ "$2" != "$3" ]; then
      cat "$dpkg_log" >&2
      echo "dpkg: $1 is '$2', expected '$3'" >&2
      exit 1
    fi
    echo "dpkg: $1: $2"
  }
  run_dpkg -i "$deb"
  expect "state directory" "$(stat -c '%a %U:%G' "$droot/var/lib/kxagent")" "700 root:root"
  expect "log directory" "$(stat -c '%a %U:%G' "$droot/var/log/kxagent")" "750 root:adm"
  expect "conffiles" "$(dpkg-query --admindir="$admin" -W -f='${Conffiles}' kxagent | awk '{print $1}' | xargs)" \
    "/etc/kxagent/sysconfig.xml /etc/pam.d/kxagent"
  echo "<!-- edited -->" >>"$droot/etc/kxagent/sysconfig.xml"
  run_dpkg -i "$deb"
  expect "edited sysconfig.xml after the upgrade" "$(tail -n 1 "$droot/etc/kxagent/sysconfig.xml")" "<!-- edited -->"
  run_dpkg -P kxagent
  expect "files left after the purge" "$(find "$droot/etc/kxagent" "$droot/etc/pam.d" "$droot/usr/lib/kxagent" \
    "$droot/var/lib/kxagent" "$droot/var/log/kxagent" 2>/dev/null | wc -l)" "0"
}
if [ "$(id -u)" -eq 0 ]; then
  check_dpkg
else
  echo "dpkg: left out (needs root for the owners and modes it checks)"
fi

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
