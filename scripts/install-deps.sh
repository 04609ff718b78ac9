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
  libcpp-httplib-dev libsqlite3-dev libssl-dev zlib1g-dev libbrotli-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev desktop-file-utils
  qt6-base-private-dev
  # windows cross build
  g++-mingw-w64-i686 mingw-w64-i686-dev
  # end-to-end desktop tests
  python3 xvfb xauth openbox trayer xdotool wmctrl x11-utils dbus-x11 fonts-dejavu-core
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
