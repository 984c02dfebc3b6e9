#!/bin/sh
# Coding speed of the one-file form against the folder form and the other codecs, all on the same
# picture in one run: the rate-distortion harness's 16384 x 16384 mosaic of native-resolution
# photograph crops (bench/make-photo-corpus.sh; shared with bench/rd.sh when OUT is its folder).
#
#   import   the folder form (quality 60, its default; --fit native --subimages 1 codes exactly
#            the mosaic's pixels as sub-image A1 and its levels) and the one-file form (quality
#            43, its default), both on every core as a user runs them: wall seconds and
#            megapixels of the picture a second.
#   1 thread each codec's whole command on one thread, CPU seconds (user + system) and megapixels
#            a second: encoding from the picture, decoding from the file (the folder form:
#            encoding only; bench/decoder_bench.cpp times its tiles). JPEG 4:2:0 Q 90 through
#            libvips (libjpeg-turbo), OpenJPEG one piece (opj_compress -I -n 6 at the one-file
#            form's bytes), OpenJPH one piece at the one-file form's quantisation step (six
#            decompositions), and the one-file form: `import --threads 1` to encode, `verify
#            --threads 1` to decode (it reads, checks and decodes every stored tile and writes
#            nothing; the other decoders write a PPM).
#
#   bench/speed.sh BUILD [OUT]      (OUT default BUILD/rd; the table goes to OUT/speed.tsv)
set -e
BUILD=$1
[ -x "$BUILD/quorvik-tool" ] || { echo "usage: $0 BUILD [OUT]" >&2; exit 2; }
OUT=${2:-$BUILD/rd}
for t in opj_compress opj_decompress ojph_compress ojph_expand vips /usr/bin/time; do
    command -v "$t" >/dev/null || { echo "speed: $t is missing" >&2; exit 1; }
done
TOOL=$(cd "$BUILD" && pwd)/quorvik-tool
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
CORPUS=$OUT/photo16k.v
[ -f "$CORPUS" ] || "$HERE/make-photo-corpus.sh" "$CORPUS" 16384
[ -f "$OUT/photo16k.ppm" ] || vips copy "$CORPUS" "$OUT/photo16k.ppm"
WORK=$(mktemp -d "$OUT/speed.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
MPX=268.435456  # 16384 x 16384
TABLE=$OUT/speed.tsv
printf 'what\tcodec\tthreads\tseconds\tmegapixels_per_second\tbytes\n' >"$TABLE"

# timed WHAT CODEC THREADS KIND FILE command...: KIND wall or cpu; FILE the output whose bytes
# count (or -).
timed() {
    what=$1 codec=$2 threads=$3 kind=$4 file=$5
    shift 5
    /usr/bin/time -f '%e %U %S' -o "$WORK/t" "$@" >"$WORK/log" 2>&1 ||
        { cat "$WORK/log" >&2; echo "speed: $codec $what failed" >&2; exit 1; }
    s=$(awk -v k="$kind" '{ print (k == "wall" ? $1 : $2 + $3) }' "$WORK/t")
    bytes=-
    [ "$file" = - ] || bytes=$(du -sb "$file" | cut -f1)
    printf '%s\t%s\t%s\t%.2f\t%.1f\t%s\n' "$what" "$codec" "$threads" "$s" \
        "$(echo "$MPX / $s" | bc -l)" "$bytes" | tee -a "$TABLE"
}

echo "import, every core:" >&2
timed import folder all wall "$WORK/folder" \
    "$TOOL" import "$CORPUS" --fit native --subimages 1 --out "$WORK/folder"
rm -rf "$WORK/folder"
timed import one-file all wall "$WORK/p.qvk" "$TOOL" import "$CORPUS" --out "$WORK/p.qvk"
BYTES=$(du -b "$WORK/p.qvk" | cut -f1)
rm -f "$WORK/p.qvk"

echo "one thread, whole commands:" >&2
export VIPS_CONCURRENCY=1
timed encode jpeg-420-q90 1 cpu "$WORK/x.jpg" \
    vips jpegsave "$CORPUS" "$WORK/x.jpg" --Q 90 --subsample-mode on --optimize-coding
timed decode jpeg-420-q90 1 cpu - vips copy "$WORK/x.jpg" "$WORK/x.ppm"
rm -f "$WORK/x.jpg" "$WORK/x.ppm"
# The ratio that gives OpenJPEG the one-file form's bytes (24 bits a pixel uncompressed).
RATIO=$(echo "$MPX * 1000000 * 3 / $BYTES" | bc -l)
timed encode openjpeg-whole 1 cpu "$WORK/x.j2k" \
    opj_compress -i "$OUT/photo16k.ppm" -o "$WORK/x.j2k" -I -n 6 -r "$RATIO" -threads 1
timed decode openjpeg-whole 1 cpu - opj_decompress -i "$WORK/x.j2k" -o "$WORK/x.ppm" -threads 1
rm -f "$WORK/x.j2k" "$WORK/x.ppm"
# Quality 43's step (store/qvk_format.h: 0.1 * 0.02^(quality / 100)).
STEP=$(echo "0.1 * e(0.43 * l(0.02))" | bc -l)
timed encode openjph-whole 1 cpu "$WORK/x.j2c" \
    ojph_compress -i "$OUT/photo16k.ppm" -o "$WORK/x.j2c" -qstep "$STEP" -num_decomps 6
timed decode openjph-whole 1 cpu - ojph_expand -i "$WORK/x.j2c" -o "$WORK/x.ppm"
rm -f "$WORK/x.j2c" "$WORK/x.ppm"
timed encode folder 1 cpu "$WORK/folder" \
    "$TOOL" import "$CORPUS" --fit native --subimages 1 --threads 1 --out "$WORK/folder"
rm -rf "$WORK/folder"
timed encode one-file 1 cpu "$WORK/p.qvk" "$TOOL" import "$CORPUS" --threads 1 --out "$WORK/p.qvk"
timed decode one-file 1 cpu - "$TOOL" verify "$WORK/p.qvk" --threads 1
echo "table: $TABLE" >&2
