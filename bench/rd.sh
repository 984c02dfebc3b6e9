#!/bin/sh
# Rate-distortion harness: the folder form, the one-file form and other codecs on the same two
# pictures, all measured in one run, and a plot of PSNR against bits per pixel.
#   photo: a 16384 x 16384 mosaic of native-resolution crops of real photographs
#          (bench/make-photo-corpus.sh), imported unscaled as sub-image A1 (--fit native
#          --subimages 1);
#   world: sub-image A1 of the procedural world (build --subimages 1), and the same 16384 x 16384
#          pixels written once as a PPM (quorvik-rd-measure --write-world) for every other form.
# The folder form at each quality: bits per pixel and RGB PSNR per level against the source
# (quorvik-tool's report), its curve the finest level's PSNR against every level's bytes per
# finest pixel. The other forms: bench/rd-forms.sh.
# Usage: bench/rd.sh BUILD [OUT] [--full] [--folder-only] [--label NAME]
#                    [--compare DIR [--compare-label NAME]]...
#   OUT        where the tables, the plot and the cached pictures go (default BUILD/rd)
#   --full     eight qualities for the folder and one-file forms, nine for JPEG, instead of three
#   --folder-only  only the folder form, as before the other forms were measured
#   --plot-only  draw the plot from the tables already in OUT, building nothing
#   --label    the folder form's name in the plot's key for this run
#   --compare  also draw the folder form's curves of an earlier run's tables (DIR/rd-photo.tsv,
#              rd-world.tsv), named by the --compare-label that follows it; may be given several
#              times
# Tables: OUT/rd-photo.tsv and OUT/rd-world.tsv, lines of `quorvik-tool ... --report`;
# OUT/forms-photo.tsv and OUT/forms-world.tsv, one line per form and point (form, setting, bytes,
# bpp, psnr_db, seam_tile, seam_border, seam_middle). Plot: OUT/rd.png, one panel per picture.
set -e
BUILD=$1
shift || true
[ -x "$BUILD/quorvik-tool" ] || { echo "usage: $0 BUILD [OUT] [--full] [--folder-only] [--plot-only] [--label NAME] [--compare DIR [--compare-label NAME]]..." >&2; exit 2; }
OUT=$BUILD/rd
case "$1" in --*|"") ;; *) OUT=$1; shift ;; esac
QUALITIES="30 60 90"
ONEFILE="30 43 60 90"  # the one-file form's points: its default, 43, among them
JPEG="50 75 90"
LABEL="this build"
PLOT_ONLY=""
FOLDER_ONLY=""
NCOMPARE=0  # earlier runs to draw: COMPARE_1, LABEL_1, COMPARE_2, ...
while [ $# -gt 0 ]; do
    case "$1" in
        --full)
            QUALITIES="10 25 40 50 60 70 85 100"
            ONEFILE="10 25 40 43 50 60 70 85 100"
            JPEG="20 30 40 50 60 70 80 90 95" ;;
        --folder-only) FOLDER_ONLY=1 ;;
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
BUILD=$(cd "$BUILD" && pwd)
TOOL=$BUILD/quorvik-tool
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
CORPUS=$OUT/photo16k.v
WORK=$(mktemp -d "$OUT/work.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# Progress lines count seconds from here, bench/rd-forms.sh's too.
RD_START=$(date +%s)
export RD_START
say() { echo "[$(( $(date +%s) - RD_START ))s] $*" >&2; }
if [ -n "$PLOT_ONLY" ]; then
    [ -f "$OUT/rd-photo.tsv" ] && [ -f "$OUT/rd-world.tsv" ] ||
        { echo "--plot-only: no rd-photo.tsv and rd-world.tsv in $OUT" >&2; exit 2; }
else
    [ -f "$CORPUS" ] || "$HERE/make-photo-corpus.sh" "$CORPUS" 16384
    if [ -z "$FOLDER_ONLY" ]; then
        [ -x "$BUILD/quorvik-rd-measure" ] ||
            cmake --build "$BUILD" -j2 --target quorvik-rd-measure >&2
        # The pictures every other form is given, kept with the mosaic: OpenJPEG and OpenJPH
        # read PPM.
        if [ ! -f "$OUT/photo16k.ppm" ]; then
            say "photo: writing the mosaic as a PPM"
            vips copy "$CORPUS" "$WORK/p.ppm" && mv "$WORK/p.ppm" "$OUT/photo16k.ppm"
        fi
        if [ ! -f "$OUT/world-a1.ppm" ]; then
            say "world: writing sub-image A1 as a PPM"
            "$BUILD/quorvik-rd-measure" --write-world "$WORK/w.ppm" && mv "$WORK/w.ppm" "$OUT/world-a1.ppm"
        fi
    fi
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
        say "$corpus: folder form, quality $q"
        run $corpus $q
        if [ -s "$T" ]; then tail -n +2 "$WORK/r.tsv" >> "$T"; else cat "$WORK/r.tsv" > "$T"; fi
    done
    echo "== $corpus corpus (A1; bits per pixel of each level; 'all' = every level's bytes per level-5 pixel)"
    awk -F'\t' 'NR > 1 { printf "quality %-4s level %-4s %8.4f bpp  %8s dB\n", $1, $2, $5, $6 }' "$T"
    [ -z "$FOLDER_ONLY" ] || continue

    # Every form in one table: the folder form's "all" lines first, then the others.
    F=$OUT/forms-$corpus.tsv
    printf 'form\tsetting\tbytes\tbpp\tpsnr_db\tseam_tile\tseam_border\tseam_middle\n' > "$F"
    awk -F'\t' -v OFS='\t' '$2 == "all" { print "folder", "quality " $1, $4, $5, $6, 64, $8, $9 }' \
        "$T" >> "$F"
    # The mosaic's 1024-pixel cells meet on the tile grids: their edges are left out of the
    # other forms' seam measure.
    PICTURE=$OUT/photo16k.ppm
    SKIP=1024
    [ $corpus = world ] && PICTURE=$OUT/world-a1.ppm && SKIP=0
    "$HERE/rd-forms.sh" "$BUILD" "$PICTURE" "$corpus" "$F" --qualities "$ONEFILE" --jpeg "$JPEG" \
        --skip-grid $SKIP
    echo "== $corpus: every form (bits per finest pixel, the whole file; PSNR of the finest level)"
    awk -F'\t' '{ printf "%-14s %-16s %10s %7s %8s %9s %11s %11s\n", $1, $2, $3, $4, $5, $6, $7, $8 }' "$F"
done

if command -v gnuplot >/dev/null 2>&1; then
    PLOT=$OUT/rd.png
    # The folder form's "all levels" rows, and each other form's rows, as plain columns:
    # bits per pixel, PSNR.
    curve() { awk -F'\t' '$2 == "all" { print $5, $6 }' "$1" > "$2"; }
    form_curve() { awk -F'\t' -v f="$2" '$1 == f { print $4, $5 }' "$1" > "$3"; }
    FORMS="onefile-htj2k opj-whole opj-t1024 ojph-whole jpeg-420"
    # Line style per form: colour, dash, point, and the key's words.
    style() {
        case $1 in
            onefile-htj2k) echo "lc rgb '#2050c0' dt 1 pt 5|one-file form, HTJ2K 512-pixel tiles" ;;
            opj-whole) echo "lc rgb '#20a040' dt 1 pt 9|OpenJPEG, one piece" ;;
            opj-t1024) echo "lc rgb '#20a040' dt 2 pt 8|OpenJPEG, 1024-pixel tiles" ;;
            ojph-whole) echo "lc rgb '#9040b0' dt 1 pt 11|OpenJPH HTJ2K, one piece" ;;
            jpeg-420) echo "lc rgb '#707070' dt 1 pt 13|JPEG 4:2:0" ;;
        esac
    }
    {
        echo "set terminal pngcairo size 1600,700 noenhanced"
        echo "set output '$PLOT'"
        echo "set multiplot layout 1,2 title 'RGB PSNR of the finest level against bits per finest pixel (every stored level counted), 16384 x 16384'"
        echo "set xlabel 'bits per pixel (log scale)'"
        echo "set logscale x 2"
        echo "set ylabel 'RGB PSNR (dB)'"
        echo "set grid"
        echo "set key bottom right"
        for corpus in photo world; do
            curve "$OUT/rd-$corpus.tsv" "$WORK/$corpus-folder.dat"
            echo "set title '$corpus'"
            printf "plot '%s' with linespoints lw 2 pt 7 lc rgb '#c03020' title 'folder form, %s'" \
                "$WORK/$corpus-folder.dat" "$LABEL"
            # Earlier runs' folder form: dashed, then dotted, ...
            k=1
            while [ $k -le $NCOMPARE ]; do
                eval "dir=\$COMPARE_$k; name=\$LABEL_$k"
                curve "$dir/rd-$corpus.tsv" "$WORK/$corpus-folder$k.dat"
                printf ", '%s' with linespoints lw 2 dt %d pt 6 lc rgb '#c03020' title 'folder form, %s'" \
                    "$WORK/$corpus-folder$k.dat" $((k + 1)) "$name"
                k=$((k + 1))
            done
            if [ -z "$FOLDER_ONLY" ] && [ -f "$OUT/forms-$corpus.tsv" ]; then
                for f in $FORMS; do
                    form_curve "$OUT/forms-$corpus.tsv" $f "$WORK/$corpus-$f.dat"
                    [ -s "$WORK/$corpus-$f.dat" ] || continue
                    s=$(style $f)
                    printf ", '%s' with linespoints lw 2 %s title '%s'" "$WORK/$corpus-$f.dat" \
                        "${s%%|*}" "${s#*|}"
                done
            fi
            echo
        done
        echo "unset multiplot"
    } > "$WORK/plot.gp"
    gnuplot "$WORK/plot.gp" && echo "plot: $PLOT"
else
    echo "gnuplot is missing (scripts/install-deps.sh installs it): no plot" >&2
fi
[ -n "$PLOT_ONLY" ] || say "done"
