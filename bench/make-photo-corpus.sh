#!/bin/sh
# Makes the rate-distortion harness's photo corpus: a SIZE x SIZE mosaic (default 16384) of
# 1024 x 1024 crops of the real photographs that Debian's mate-backgrounds package ships
# (nature/*.jpg), each crop at the photo's native resolution, never scaled. Cell k of the
# mosaic (row-major) takes photo k mod N at an offset that walks over the photo, so the cells
# differ even where a photo repeats. Writes OUT (a libvips .v file, read lazily by the tool).
#   bench/make-photo-corpus.sh OUT [SIZE]
set -e
OUT=$1
SIZE=${2:-16384}
CELL=1024
DIR=/usr/share/backgrounds/mate/nature
[ -n "$OUT" ] || { echo "usage: $0 OUT [SIZE]" >&2; exit 2; }
[ $((SIZE % CELL)) -eq 0 ] || { echo "SIZE must be a multiple of $CELL" >&2; exit 2; }
if ! ls "$DIR"/*.jpg >/dev/null 2>&1; then
    echo "no photographs in $DIR: install mate-backgrounds (scripts/install-deps.sh)" >&2
    exit 1
fi
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
# Each photo decoded once; the crops then read the uncompressed copies.
N=0
for f in $(ls "$DIR"/*.jpg | sort); do
    N=$((N + 1))
    vips copy "$f" "$TMP/p$N.v"
done
ACROSS=$((SIZE / CELL))
CELLS=$((ACROSS * ACROSS))
k=0
LIST=""
while [ $k -lt $CELLS ]; do
    PHOTO=$TMP/p$((k % N + 1)).v
    W=$(vipsheader -f width "$PHOTO")
    H=$(vipsheader -f height "$PHOTO")
    if [ "$W" -lt $CELL ] || [ "$H" -lt $CELL ]; then
        echo "photograph $((k % N + 1)) of $DIR is smaller than a $CELL-pixel cell" >&2
        exit 1
    fi
    # Visit n-th of this photo: offsets step by 389 and 271 pixels, wrapping inside the photo.
    n=$((k / N))
    X=$(( (n * 389) % (W - CELL + 1) ))
    Y=$(( (n * 271) % (H - CELL + 1) ))
    vips extract_area "$PHOTO" "$TMP/c$k.v" $X $Y $CELL $CELL
    LIST="${LIST:+$LIST }$TMP/c$k.v"
    k=$((k + 1))
done
vips arrayjoin "$LIST" "$OUT" --across $ACROSS
echo "photo corpus: $OUT ($SIZE x $SIZE, $CELLS crops of $N photographs)"
