#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need, and only
# those that are missing, so a second run costs nothing.
set -euo pipefail

packages=(
  cmake make g++ pkg-config dpkg-dev file
  libboost-thread-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  openjdk-17-jdk-headless
  libcli11-dev libfmt-dev rapidjson-dev
  libzstd-dev
  clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
