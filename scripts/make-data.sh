#!/bin/sh
# Makes the default data set in WORLD/ezw_data unless it is there already.
set -e
BUILD=$1
WORLD=$2
[ -d "$WORLD/ezw_data" ] && exit 0
mkdir -p "$WORLD"
if "$BUILD/quorvik-tool" build --help >/dev/null 2>&1; then
    "$BUILD/quorvik-tool" build --out "$WORLD"
else
    "$BUILD/quorvik-fixture" "$WORLD"
fi
