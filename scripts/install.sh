#!/bin/sh
# Installs the built viewer and tool, their manual pages and the desktop entry.
# Usage: install.sh BUILD PREFIX [MANIFEST]   (DESTDIR in the environment stages the install)
# MANIFEST (default BUILD/installed-files.txt) lists every file written, DESTDIR included, one per
# line; scripts/uninstall.sh MANIFEST removes them again.
set -e
BUILD=$1
PREFIX=$2
MANIFEST=${3:-$BUILD/installed-files.txt}
if [ -z "$BUILD" ] || [ -z "$PREFIX" ]; then
    echo "usage: $0 BUILD PREFIX [MANIFEST]" >&2
    exit 2
fi
cmake --install "$BUILD" --prefix "$PREFIX"
# CMake's own manifest names the files without DESTDIR.
awk -v destdir="$DESTDIR" 'NF { print destdir $0 }' "$BUILD/install_manifest.txt" > "$MANIFEST"
echo "installed $(wc -l < "$MANIFEST") files, listed in $MANIFEST"
