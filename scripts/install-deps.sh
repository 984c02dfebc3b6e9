#!/bin/sh
# Installs the Debian packages the build, the viewer, the tool and the tests need, if missing.
set -e
PACKAGES="build-essential cmake pkg-config libsdl1.2-dev libgtk2.0-dev zlib1g-dev libvips-dev
libdeflate-dev libopenjph-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb xdotool imagemagick
x11-apps x11-utils clang libclang-rt-14-dev valgrind libpng-dev groff-base desktop-file-utils mate-backgrounds
gnuplot-nox libopenjp2-tools openjph-tools libvips-tools bc time"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
