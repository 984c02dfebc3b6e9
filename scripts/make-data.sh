#!/bin/sh
# Makes the default data set in WORLD/ezw_data unless it is there already. The procedural world
# comes from `quorvik-tool build`; only while the tool cannot build yet is the test fixture used.
# WORLD/.made-by remembers which, so a fixture stand-in is replaced once the tool can build.
set -e
BUILD=$1
WORLD=$2
if [ -d "$WORLD/ezw_data" ] && [ "$(cat "$WORLD/.made-by" 2>/dev/null)" = "quorvik-tool build" ]; then
    exit 0
fi
mkdir -p "$WORLD"
if "$BUILD/quorvik-tool" build --help >/dev/null 2>&1; then
    echo "making the default data set in $WORLD/ezw_data (a few minutes, once)"
    "$BUILD/quorvik-tool" build --out "$WORLD"
    echo "quorvik-tool build" > "$WORLD/.made-by"
elif [ ! -d "$WORLD/ezw_data" ]; then
    "$BUILD/quorvik-fixture" "$WORLD"
    echo "fixture" > "$WORLD/.made-by"
fi
