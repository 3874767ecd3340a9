#!/usr/bin/env bash
# Installs what the program needs, when missing; with "test", also what its
# tests and the format check need.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev psmisc net-tools iproute2)
if [ "${1:-}" = test ]; then
  packages+=(libgtest-dev libgmock-dev clang-format)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Orvande needs these packages: ${missing[*]}" >&2
  echo "Install them as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
