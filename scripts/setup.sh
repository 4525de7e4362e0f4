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
  # Squid built with TLS: the proxies that open secure connections too.
  apache2 lighttpd caddy varnish squid-openssl trafficserver
  # The desktop's proxy settings, read as the updater reads them, and the
  # proxy library's own command, which the network matrix asks too.
  libproxy-dev libproxy1-plugin-gsettings libproxy1-plugin-webkit gsettings-desktop-schemas
  libproxy-tools
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

# The web servers and caches are only ever started by the test harness, on
# loopback ports with configurations it writes. Their packages would start
# them as system services on the usual ports; a policy file that refuses
# every start keeps them down while they install (one already present, as
# in a container, is left as it is).
policy=/usr/sbin/policy-rc.d
own_policy=no
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
  "${sudo_cmd[@]}" chmod 755 "$policy"
  own_policy=yes
fi
trap '[ "$own_policy" = yes ] && "${sudo_cmd[@]}" rm -f "$policy"' EXIT

"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

# ... and none of them starts at the next boot either.
services=(apache2 apache-htcacheclean lighttpd caddy varnish varnishncsa squid trafficserver)
for s in "${services[@]}"; do
  if [ -d /run/systemd/system ]; then
    "${sudo_cmd[@]}" systemctl disable --now "$s" >/dev/null 2>&1 || true
  elif [ -e "/etc/init.d/$s" ]; then
    "${sudo_cmd[@]}" update-rc.d "$s" disable >/dev/null 2>&1 || true
  fi
done
