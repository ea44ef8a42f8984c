#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need; with the
# argument "fuzz" also clang and its libFuzzer runtime for the fuzz targets.
# Idempotent: does nothing when every package is present; refreshes the
# package lists only when something has to be installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-tools-dev qt6-svg-dev qt6-serialport-dev libqt6opengl6-dev libqt6sql6-sqlite libqcustomplot-dev
  libgl-dev libxkbcommon-dev libxcb1-dev
  libgtest-dev ser2net poppler-utils
  libmosquitto-dev libssl-dev mosquitto mosquitto-clients openssl
  lintian systemd
  fonts-dejavu-core xvfb xauth imagemagick xdotool
)
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq >/dev/null
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
