#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the local publisher
# need. Silent when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins
  libcurl4-openssl-dev libzip-dev zlib1g-dev libssl-dev
  libarchive-tools p7zip-full openjdk-17-jdk-headless
  libgtest-dev libgmock-dev
  libcpp-httplib-dev
  fonts-liberation2
  nginx-light
  xvfb xauth xdotool
  xdg-utils
  binutils curl python3 openssl
  clang libclang-rt-14-dev clang-format
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
