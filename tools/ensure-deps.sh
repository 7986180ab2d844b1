#!/usr/bin/env bash
# Installs the system packages the build needs when they are missing:
# GoogleTest (Debian's libgtest-dev), CMake and Ninja.
set -euo pipefail

missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing build dependencies: ${missing[*]}" >&2
    echo "Install them first, for example: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "Installing ${missing[*]} with apt-get"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
