#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing the project needs.
# Idempotent: packages already present are left alone, apt is only asked when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6dbus6 libgl-dev
  libjpeg62-turbo-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64
  xauth xvfb
  libudev-dev umockdev libumockdev-dev
  dpkg-dev desktop-file-utils appstream pkexec python3
  libcli11-dev nlohmann-json3-dev ansible-core
  clang-14 libclang-rt-14-dev
  qemu-system-x86 busybox-static
  osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
