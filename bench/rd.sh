#!/bin/sh
# Rate-distortion harness: builds data sets at several qualities from two corpora and prints,
# per quality, bits per pixel and RGB PSNR per level against the source, then draws PSNR at the
# finest level against the bits per pixel of the whole pyramid (all levels counted) as a PNG.
#   photo: a 16384 x 16384 mosaic of native-resolution crops of real photographs
#          (bench/make-photo-corpus.sh), imported unscaled as sub-image A1 (--fit native
#          --subimages 1);
#   world: sub-image A1 of the procedural world (build --subimages 1).
# Usage: bench/rd.sh BUILD [OUT] [--full] [--compare DIR] [--label NAME]
#   OUT        where the tables, the plot and the cached corpus go (default BUILD/rd)
#   --full     eight qualities instead of three
#   --compare  also draw the curves of an earlier run's tables (DIR/rd-photo.tsv, rd-world.tsv)
# Tables: OUT/rd-photo.tsv and OUT/rd-world.tsv, lines of `quorvik-tool ... --report`.
set -e
BUILD=$1
shift || true
[ -x "$BUILD/quorvik-tool" ] || { echo "usage: $0 BUILD [OUT] [--full] [--compare DIR] [--label NAME]" >&2; exit 2; }
OUT=$BUILD/rd
case "$1" in --*|"") ;; *) OUT=$1; shift ;; esac
QUALITIES="30 60 90"
COMPARE=""
LABEL="this build"
COMPARE_LABEL="earlier"
while [ $# -gt 0 ]; do
    case "$1" in
        --full) QUALITIES="10 25 40 50 60 70 85 100" ;;
        --compare) COMPARE=$2; shift ;;
        --label) LABEL=$2; shift ;;
        --compare-label) COMPARE_LABEL=$2; shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
TOOL=$(cd "$(dirname "$BUILD/quorvik-tool")" && pwd)/quorvik-tool
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
CORPUS=$OUT/photo16k.v
[ -f "$CORPUS" ] || "$HERE/make-photo-corpus.sh" "$CORPUS" 16384
WORK=$(mktemp -d "$OUT/work.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

run() {  # corpus quality
    if [ "$1" = photo ]; then
        nice "$TOOL" import "$CORPUS" --fit native --subimages 1 --quality "$2" \
            --out "$WORK/ds" --report "$WORK/r.tsv" >/dev/null 2>"$WORK/err" ||
            { cat "$WORK/err" >&2; exit 1; }
    else
        nice "$TOOL" build --subimages 1 --quality "$2" \
            --out "$WORK/ds" --report "$WORK/r.tsv" >/dev/null 2>"$WORK/err" ||
            { cat "$WORK/err" >&2; exit 1; }
    fi
}

for corpus in photo world; do
    T=$OUT/rd-$corpus.tsv
    : > "$T"
    for q in $QUALITIES; do
        echo "$corpus, quality $q ..." >&2
        run $corpus $q
        if [ -s "$T" ]; then tail -n +2 "$WORK/r.tsv" >> "$T"; else cat "$WORK/r.tsv" > "$T"; fi
    done
    echo "== $corpus corpus (A1; bits per pixel of each level; 'all' = every level's bytes per level-5 pixel)"
    awk -F'\t' 'NR > 1 { printf "quality %-4s level %-4s %8.4f bpp  %8s dB\n", $1, $2, $5, $6 }' "$T"
done

if command -v gnuplot >/dev/null 2>&1; then
    PLOT=$OUT/rd.png
    # The "all levels" rows of each table, as plain columns: bits per pixel, PSNR.
    curve() { awk -F'\t' '$2 == "all" { print $5, $6 }' "$1" > "$2"; }
    curve "$OUT/rd-photo.tsv" "$WORK/photo.dat"
    curve "$OUT/rd-world.tsv" "$WORK/world.dat"
    {
        echo "set terminal pngcairo size 1000,700 noenhanced"
        echo "set output '$PLOT'"
        echo "set title 'Level-5 RGB PSNR against bits per pixel (all levels counted), sub-image A1'"
        echo "set xlabel 'bits per level-5 pixel, all levels'"
        echo "set ylabel 'RGB PSNR at level 5 (dB)'"
        echo "set grid"
        echo "set key bottom right"
        printf "plot '%s' with linespoints lw 2 pt 7 lc rgb '#c03020' title 'photo, %s'" "$WORK/photo.dat" "$LABEL"
        printf ", '%s' with linespoints lw 2 pt 5 lc rgb '#2050c0' title 'world, %s'" "$WORK/world.dat" "$LABEL"
        if [ -n "$COMPARE" ]; then
            curve "$COMPARE/rd-photo.tsv" "$WORK/photo0.dat"
            curve "$COMPARE/rd-world.tsv" "$WORK/world0.dat"
            printf ", '%s' with linespoints lw 2 dt 2 pt 6 lc rgb '#c03020' title 'photo, %s'" "$WORK/photo0.dat" "$COMPARE_LABEL"
            printf ", '%s' with linespoints lw 2 dt 2 pt 4 lc rgb '#2050c0' title 'world, %s'" "$WORK/world0.dat" "$COMPARE_LABEL"
        fi
        echo
    } > "$WORK/plot.gp"
    gnuplot "$WORK/plot.gp" && echo "plot: $PLOT"
else
    echo "gnuplot is missing (scripts/install-deps.sh installs it): no plot" >&2
fi
