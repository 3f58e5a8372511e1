#!/usr/bin/env bash
# Installs the Debian packages the project builds and runs with, when they are missing.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config libsqlite3-dev sqlite3 qt6-base-dev libgtest-dev
          libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev zlib1g-dev xvfb xauth time
          clang libclang-rt-14-dev clang-format postgresql libpq-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
