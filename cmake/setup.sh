#!/bin/sh
# Installs, through apt, only the packages this project needs that are missing.
# Idempotent: when everything is present it only runs dpkg queries.
set -eu

PACKAGES="cmake make g++ g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
wine wine32:i386 wine64 xvfb x11-utils \
googletest libgtest-dev libexpat1-dev libbenchmark-dev libcli11-dev libtomlplusplus-dev nlohmann-json3-dev \
clang libclang-rt-14-dev \
gzip xz-utils zstd nsis perl-modules-5.36 time \
osslsigncode openssl dpkg-dev locales \
g++-mingw-w64-x86-64-posix groff-base bsdextrautils"

missing=""
for package in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
echo "setup: installing$missing"
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
