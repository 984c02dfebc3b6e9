#!/bin/sh
# Rate-distortion harness: builds data sets at several qualities from two corpora and prints,
# per quality, bits per pixel and RGB PSNR per level against the source, then draws PSNR at the
# finest level against the bits per pixel of the whole pyramid (all levels counted) as a PNG.
#   photo: a 16384 x 16384 mosaic of native-resolution crops of real photographs
#          (bench/make-photo-corpus.sh), imported unscaled as sub-image A1 (--fit native
#          --subimages 1);
#   world: sub-image A1 of the procedural world (build --subimages 1).
# Usage: bench/rd.sh BUILD [OUT] [--full] [--label NAME] [--compare DIR [--compare-label NAME]]...
#   OUT        where the tables, the plot and the cached corpus go (default BUILD/rd)
#   --full     eight qualities instead of three
#   --plot-only  draw the plot from the tables already in OUT, building nothing
#   --label    this run's name in the plot's key
#   --compare  also draw the curves of an earlier run's tables (DIR/rd-photo.tsv, rd-world.tsv),
#              named by the --compare-label that follows it; may be given several times
# Tables: OUT/rd-photo.tsv and OUT/rd-world.tsv, lines of `quorvik-tool ... --report`.
set -e
BUILD=$1
shift || true
[ -x "$BUILD/quorvik-tool" ] || { echo "usage: $0 BUILD [OUT] [--full] [--label NAME] [--compare DIR [--compare-label NAME]]..." >&2; exit 2; }
OUT=$BUILD/rd
case "$1" in --*|"") ;; *) OUT=$1; shift ;; esac
QUALITIES="30 60 90"
LABEL="this build"
PLOT_ONLY=""
NCOMPARE=0  # earlier runs to draw: COMPARE_1, LABEL_1, COMPARE_2, ...
while [ $# -gt 0 ]; do
    case "$1" in
        --full) QUALITIES="10 25 40 50 60 70 85 100" ;;
        --plot-only) PLOT_ONLY=1 ;;
        --compare)
            [ -f "$2/rd-photo.tsv" ] && [ -f "$2/rd-world.tsv" ] ||
                { echo "--compare $2: no rd-photo.tsv and rd-world.tsv there" >&2; exit 2; }
            NCOMPARE=$((NCOMPARE + 1))
            eval "COMPARE_$NCOMPARE=\$2; LABEL_$NCOMPARE=earlier"
            shift ;;
        --label) LABEL=$2; shift ;;
        --compare-label)
            [ $NCOMPARE -gt 0 ] || { echo "--compare-label must follow a --compare" >&2; exit 2; }
            eval "LABEL_$NCOMPARE=\$2"
            shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
TOOL=$(cd "$(dirname "$BUILD/quorvik-tool")" && pwd)/quorvik-tool
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
CORPUS=$OUT/photo16k.v
WORK=$(mktemp -d "$OUT/work.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
if [ -n "$PLOT_ONLY" ]; then
    [ -f "$OUT/rd-photo.tsv" ] && [ -f "$OUT/rd-world.tsv" ] ||
        { echo "--plot-only: no rd-photo.tsv and rd-world.tsv in $OUT" >&2; exit 2; }
else
    [ -f "$CORPUS" ] || "$HERE/make-photo-corpus.sh" "$CORPUS" 16384
fi

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
    [ -z "$PLOT_ONLY" ] || continue
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
        # Earlier runs: dashed, then dotted, ..., in the same colours.
        k=1
        while [ $k -le $NCOMPARE ]; do
            eval "dir=\$COMPARE_$k; name=\$LABEL_$k"
            curve "$dir/rd-photo.tsv" "$WORK/photo$k.dat"
            curve "$dir/rd-world.tsv" "$WORK/world$k.dat"
            printf ", '%s' with linespoints lw 2 dt %d pt 6 lc rgb '#c03020' title 'photo, %s'" "$WORK/photo$k.dat" $((k + 1)) "$name"
            printf ", '%s' with linespoints lw 2 dt %d pt 4 lc rgb '#2050c0' title 'world, %s'" "$WORK/world$k.dat" $((k + 1)) "$name"
            k=$((k + 1))
        done
        echo
    } > "$WORK/plot.gp"
    gnuplot "$WORK/plot.gp" && echo "plot: $PLOT"
else
    echo "gnuplot is missing (scripts/install-deps.sh installs it): no plot" >&2
fi
