#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, testing (the ABI check needs
# abigail-tools, the service units' test systemd) and packaging, from Debian's packages.
# Run as root (or with sudo available). Installs nothing when everything is already there.
set -euo pipefail

packages=(build-essential cmake pkg-config qtbase5-dev libqt5websockets5-dev qttools5-dev qttools5-dev-tools
    libqt5svg5-dev libqt5sql5-sqlite libdxflib-dev libnest2d-dev libpolyclipping-dev libnlopt-cxx-dev
    libboost-dev libbenchmark-dev fonts-dejavu-core
    abigail-tools systemd dpkg-dev lintian debootstrap python3-ezdxf python3-svgelements)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
