#!/bin/sh
# The one-file form and other codecs on one picture, each measured by BUILD/quorvik-rd-measure
# against the same source (RGB PSNR of the finest level; the tile grid's measure, where the
# source is smooth, on a grid of `seam_tile` pixels), for bench/rd.sh:
#   onefile-htj2k  quorvik-tool import --out X.qvk --coder htj2k --tile-size 512 at each
#                  quality; bits per pixel of the whole file (every level) per finest pixel,
#                  PSNR and grid of the finest level's own stored tiles;
#   jpeg-420       libvips jpegsave (libjpeg-turbo) at each Q, 4:2:0, optimised Huffman tables;
#   opj-whole      OpenJPEG, 9/7, 6 resolution levels, one piece (opj_compress -I -n 6 -r R),
#                  at the ratios of the one-file form's points, so that the curves meet at equal
#                  bytes (OpenJPEG may land a little under the ratio asked);
#   opj-t1024      the same in 1024 x 1024 tiles (-t 1024,1024);
#   ojph-whole     OpenJPH, HTJ2K in one piece, five decompositions, at the one-file form's
#                  quantisation steps (0.1 * 0.02^(quality / 100)): the tiles' cost at an equal
#                  step.
# The grid is the one-file form's tile for the one-piece codecs (their border and middle steps
# are what the one-file form's are measured against) and 1024 for OpenJPEG's tiles and its own
# one piece.
#
#   bench/rd-forms.sh BUILD PICTURE.ppm NAME TABLE [--qualities "Q..."] [--jpeg "Q..."]
#                     [--skip-grid G]
# --skip-grid G leaves the steps at multiples of G (the picture's own grid) out of the seam
# measure. The one-file form is measured as the viewer shows it (its tiles' borders smoothed).
#
# Appends lines to TABLE: form, setting, bytes, bpp, psnr_db, seam_tile, seam_border,
# seam_middle. NAME labels the progress lines.
set -e
BUILD=$1
PICTURE=$2
NAME=$3
TABLE=$4
[ -n "$TABLE" ] && [ -f "$PICTURE" ] || {
    echo "usage: $0 BUILD PICTURE.ppm NAME TABLE [--qualities \"Q...\"] [--jpeg \"Q...\"]" >&2
    exit 2
}
shift 4
QUALITIES="30 60 90"
JPEG="50 75 90"
SKIP=0
while [ $# -gt 0 ]; do
    case "$1" in
        --qualities) QUALITIES=$2; shift ;;
        --jpeg) JPEG=$2; shift ;;
        --skip-grid) SKIP=$2; shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
for t in opj_compress opj_decompress ojph_compress ojph_expand vips vipsheader; do
    command -v $t >/dev/null ||
        { echo "$t is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
TOOL=$BUILD/quorvik-tool
MEASURE=$BUILD/quorvik-rd-measure
QVK_TILE=512
WORK=$(mktemp -d "$(dirname "$TABLE")/forms.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
W=$(vipsheader -f width "$PICTURE")
H=$(vipsheader -f height "$PICTURE")
START=${RD_START:-$(date +%s)}  # bench/rd.sh's start, when it runs this

say() { echo "[$(( $(date +%s) - START ))s] $NAME: $*" >&2; }
bytes() { stat -c %s "$1"; }
bpp() { awk -v b="$1" -v p="$W" -v q="$H" 'BEGIN { printf "%.4f", 8 * b / (p * q) }'; }
# form, setting, coded file, decoded picture or .qvk, grid: measures and appends one line.
row() {
    m=$(nice "$MEASURE" "$PICTURE" "$4" --tile "$5" --skip-grid "$SKIP")
    psnr=$(printf '%s' "$m" | cut -f1)
    seams=$(printf '%s' "$m" | cut -f2-)
    b=$(bytes "$3")
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$b" "$(bpp "$b")" "$psnr" "$5" "$seams" \
        >> "$TABLE"
    say "$1, $2: $(bpp "$b") bpp, $psnr dB"
}
quiet() {  # runs a command, showing its output only when it fails
    "$@" > "$WORK/log" 2>&1 || { cat "$WORK/log" >&2; exit 1; }
}

RATIOS=""
for q in $QUALITIES; do
    quiet nice "$TOOL" import "$PICTURE" --out "$WORK/x.qvk" --coder htj2k --tile-size $QVK_TILE \
        --quality "$q"
    row onefile-htj2k "quality $q" "$WORK/x.qvk" "$WORK/x.qvk" $QVK_TILE
    RATIOS="$RATIOS $(awk -v b="$(bytes "$WORK/x.qvk")" -v p="$W" -v q="$H" \
        'BEGIN { printf "%.3f", 24 * p * q / (8 * b) }')"
    rm -f "$WORK/x.qvk"
done

for q in $JPEG; do
    quiet nice vips jpegsave "$PICTURE" "$WORK/x.jpg" --Q "$q" --subsample-mode on --optimize-coding
    row jpeg-420 "Q $q" "$WORK/x.jpg" "$WORK/x.jpg" $QVK_TILE
    rm -f "$WORK/x.jpg"
done

for r in $RATIOS; do
    for tiles in whole t1024; do
        opt=""
        [ $tiles = t1024 ] && opt="-t 1024,1024"
        quiet nice opj_compress -i "$PICTURE" -o "$WORK/x.j2k" -I -n 6 -r "$r" $opt -threads 2
        quiet nice opj_decompress -i "$WORK/x.j2k" -o "$WORK/x.ppm" -threads 2
        row opj-$tiles "ratio $r" "$WORK/x.j2k" "$WORK/x.ppm" 1024
        rm -f "$WORK/x.j2k" "$WORK/x.ppm"
    done
done

for q in $QUALITIES; do
    step=$(awk -v q="$q" 'BEGIN { printf "%.6g", 0.1 * 0.02 ^ (q / 100) }')
    quiet nice ojph_compress -i "$PICTURE" -o "$WORK/x.j2c" -qstep "$step" -num_decomps 5
    quiet nice ojph_expand -i "$WORK/x.j2c" -o "$WORK/x.ppm"
    row ojph-whole "qstep $step" "$WORK/x.j2c" "$WORK/x.ppm" $QVK_TILE
    rm -f "$WORK/x.j2c" "$WORK/x.ppm"
done
