#!/usr/bin/env bash
# Installs what the Windows programs need and is not on this Debian machine yet (mingw-w64 with
# the posix thread model, GoogleTest's sources, Wine with its 32-bit half), then configures and
# builds the win32 preset with its test programs into build-win32/ and the win64 programs into
# build-win64/. ./test calls it after the Linux suites.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest wine wine64 wine32 xvfb xauth)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    # wine32 runs the 32-bit programs and comes from the i386 architecture.
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

jobs="$(nproc)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs" --target patch16-check patch16-sample
