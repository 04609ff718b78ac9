#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the project.
# Safe to run repeatedly; uses sudo when not run as root.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  # core
  libcurl4-openssl-dev
  # gui
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-svg-dev qt6-image-formats-plugins libgl-dev
  libglx-dev libxkbcommon-dev xdg-utils qt6-qpa-plugins libqt6webenginecore6-bin
  # service
  libcpp-httplib-dev libmicrohttpd-dev libsqlite3-dev libpq-dev libssl-dev zlib1g-dev libbrotli-dev
  # service tests: a throw-away PostgreSQL cluster (initdb, pg_ctl)
  postgresql
  # service tests: a real browser as the bookmark file's peer, headless
  firefox-esr
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev desktop-file-utils wrk
  qt6-base-private-dev
  # windows cross builds and their tests under Wine (GoogleTest from its sources)
  g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev googletest
  wine wine64
  # end-to-end desktop tests
  python3 xvfb xauth openbox trayer xdotool wmctrl x11-utils x11-apps dbus-x11 fonts-dejavu-core
  # the D-Bus tray (a panel whose notification area takes StatusNotifierItems) and Wayland
  dbus dbus-daemon libglib2.0-bin xfce4-panel xfconf weston qt6-wayland
  # the Debian packages: made, checked, unpacked and run in a network namespace of their own
  dpkg-dev file lintian appstream iproute2 util-linux systemd
  # the desktop session manager stand-in of the end-to-end tests
  libsm-dev libice-dev
)

# Wine's 32-bit half: wanted, but not needed. When the i386 archive can't be installed (a mirror
# caught mid-sync leaves its versions behind amd64's), the 32-bit Windows tests say they are
# skipped and why, and everything else goes on.
optional=(wine32:i386)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
# Another apt or dpkg may be at work on the machine: wait for it instead of failing.
APT=(apt-get -o DPkg::Lock::Timeout=600)

# Wine's 32-bit half comes from the i386 architecture.
if [ "$(dpkg --print-architecture)" = amd64 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

absent() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(absent "${packages[@]}")
mapfile -t missing_optional < <(absent "${optional[@]}")

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]} ${missing_optional[*]}"
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index or another for a while: try again, and go on with what
# was read if it still fails (the install below says so if a package is really out of reach).
for attempt in 1 2 3; do
  if $SUDO "${APT[@]}" update -q; then break; fi
  echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
  [ $attempt -lt 3 ] && sleep 20
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO "${APT[@]}" install -y -q --no-install-recommends "${missing[@]}"
fi
if [ ${#missing_optional[@]} -gt 0 ] &&
  ! $SUDO "${APT[@]}" install -y -q --no-install-recommends "${missing_optional[@]}"; then
  echo "install-deps: could not install ${missing_optional[*]}; the tests that need it are skipped" >&2
fi
