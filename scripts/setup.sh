#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs that are not installed yet; prints nothing
# when everything is there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  liblzma-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev lzma-alone
  qt6-base-dev qt6-translations-l10n
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
