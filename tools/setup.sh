#!/usr/bin/env bash
# Installs, only when missing, the Debian packages the program needs: `setup.sh run` what
# building and running it need, `setup.sh test` those and what the tests need besides.
set -euo pipefail

run_packages=(
  build-essential cmake ninja-build mold pkg-config
  qt6-base-dev qt6-base-dev-tools libxcb1-dev libxfixes-dev qt6-qpa-plugins
  libmaxminddb-dev libicu-dev iso-codes npm libcap2-bin
  fonts-liberation2 fonts-symbola
)
test_packages=(
  libgtest-dev googletest python3-maxminddb
  clang libclang-rt-14-dev
  iproute2 iptables nftables iputils-ping traceroute mtr-tiny whois util-linux
  fonts-dejavu-core desktop-file-utils appstream man-db lintian xfsprogs
  xvfb x11-xkb-utils openbox xdotool xclip x11-utils imagemagick
  dbus-daemon at-spi2-core python3-pyatspi
)
case ${1:-test} in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: setup.sh [run|test]" >&2; exit 2 ;;
esac

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
