#!/bin/sh
# Measures the HTJ2K tile coder candidate on real photographs against OpenJPEG's JPEG 2000:
# 2048 x 1536 crops, at native resolution, of four of the photographs Debian's mate-backgrounds
# ships (the centre of each), then BUILD/quorvik-htj2k-measure (bench/htj2k_measure.cpp says
# what it measures) with OpenJPEG's tools (libopenjp2-tools).
#   bench/htj2k-measure.sh BUILD [OUT]   (tables to OUT, default BUILD/htj2k/measure.tsv)
set -e
BUILD=$1
OUT=${2:-$BUILD/htj2k/measure.tsv}
[ -n "$BUILD" ] || { echo "usage: $0 BUILD [OUT]" >&2; exit 2; }
command -v opj_compress >/dev/null || { echo "needs opj_compress (libopenjp2-tools)" >&2; exit 1; }
cmake --build "$BUILD" -j2 --target quorvik-htj2k-measure
DIR=/usr/share/backgrounds/mate/nature
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
CROPS=""
for p in Aqua Garden LadyBird Wood; do
    W=$(vipsheader -f width "$DIR/$p.jpg")
    H=$(vipsheader -f height "$DIR/$p.jpg")
    vips crop "$DIR/$p.jpg" "$WORK/$p.ppm" $(((W - 2048) / 2)) $(((H - 1536) / 2)) 2048 1536
    CROPS="$CROPS $WORK/$p.ppm"
done
mkdir -p "$(dirname "$OUT")"
# The program runs on one thread, as one of the viewer's decoding threads does.
"$BUILD/quorvik-htj2k-measure" "$WORK" $CROPS | tee "$OUT"
