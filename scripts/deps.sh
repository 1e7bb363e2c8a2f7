#!/usr/bin/env bash
# Installs the Debian packages the project builds and runs with; idempotent.
# Usage: scripts/deps.sh [extra-package ...]
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config binutils libjsoncpp-dev libcurl4-openssl-dev libssl-dev
  libboost-dev libboost-date-time-dev libboost-thread-dev libcpp-httplib-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev dpkg-dev libyaml-cpp-dev libfccp-dev help2man
  locales tzdata parallel python3 "$@")
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The float text tests also run under a numeric locale whose decimal point is ",".
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
