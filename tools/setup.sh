#!/usr/bin/env bash
# Installs, only when missing, every Debian package the build and the tests need.
set -euo pipefail

packages=(
  build-essential cmake ninja-build mold pkg-config
  qt6-base-dev qt6-base-dev-tools libxcb1-dev libxfixes-dev
  libgtest-dev googletest
  libmaxminddb-dev python3-maxminddb libicu-dev iso-codes npm
  clang libclang-rt-14-dev
  iproute2 iptables nftables iputils-ping traceroute mtr-tiny whois util-linux libcap2-bin
  fonts-liberation2 fonts-dejavu-core fonts-symbola desktop-file-utils appstream man-db
  xvfb x11-xkb-utils openbox xdotool xclip x11-utils imagemagick qt6-qpa-plugins
  dbus-daemon at-spi2-core python3-pyatspi
)

missing=()
for p in "${packages[@]}"; do
  # npm may come with the machine's own Node.js rather than Debian's package.
  if [ "$p" = npm ] && command -v npm >/dev/null 2>&1; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
