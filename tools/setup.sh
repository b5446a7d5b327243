#!/bin/sh
# Installs everything the build and the tests need, from Debian's packages,
# then prepares the private 32-bit Wine the shipped chainer is tested under
# (tools/setup_wine32.sh). Idempotent: packages already present are left as
# they are, a prepared 32-bit Wine too.
set -e
packages="g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix
binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 cmake ninja-build g++ wine64 xvfb
googletest libgtest-dev clang libclang-rt-14-dev wixl python3 python3-pytest python3-pyftpdlib
xdotool x11-apps imagemagick curl openssl git osslsigncode unzip fonts-wqy-microhei qemu-user-static"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
"$(dirname "$0")/setup_wine32.sh"
