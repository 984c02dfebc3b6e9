#!/bin/sh
# Removes the files that scripts/install.sh wrote, as listed in its manifest, and the manifest.
# Usage: uninstall.sh MANIFEST
set -e
MANIFEST=$1
if [ ! -f "$MANIFEST" ]; then
    echo "uninstall: no manifest at $MANIFEST (nothing was installed from this build)" >&2
    exit 1
fi
while IFS= read -r file; do
    [ -n "$file" ] || continue
    if [ -e "$file" ] || [ -L "$file" ]; then
        rm -f -- "$file"
        echo "removed $file"
    fi
done < "$MANIFEST"
rm -f -- "$MANIFEST"
