#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ccache git
  libcurl4-openssl-dev libjsoncpp-dev libcpp-httplib-dev libssl-dev openssl
  libgtest-dev libgmock-dev googletest
  qt6-base-dev qt6-base-dev-tools libqt6svg6-dev libgl-dev
  fonts-noto-cjk curl xdg-utils
  clang libclang-rt-14-dev
  desktop-file-utils librsvg2-bin dbus xvfb x11-utils
  lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi
