#!/bin/bash
# The folder form against the one-file form, each run in turn so that the machine's load falls on
# both alike: quorvik-tool bench on every data set given (opening, first frame, peak memory,
# views with the cache on, flights), then the views with the cache off.
#
#   bench/forms.sh BUILD OUT DATA...     DATA: a folder holding ezw_data/, or a NAME.qvk file
#
# Writes OUT/NAME.cache.txt and OUT/NAME.nocache.txt per data set and prints a summary table.
set -eu
BUILD=$1
OUT=$2
shift 2
mkdir -p "$OUT"
TOOL="$BUILD/quorvik-tool"
FRAMES=${FRAMES:-20}
name() { basename "$1" .qvk; }
for d in "$@"; do
    "$TOOL" bench --data "$d" --frames "$FRAMES" --pace 0 > "$OUT/$(name "$d").cache.txt"
done
for d in "$@"; do
    "$TOOL" bench --data "$d" --frames "$FRAMES" --cache-mb 0 --no-flights \
        > "$OUT/$(name "$d").nocache.txt"
done
printf '%-10s %9s %11s %9s %9s %12s %12s %12s %9s\n' data "open ms" "1st frame" "peak MB" \
    "end MB" "1080p ms" "1080p nc ms" "2160p nc ms" "p99 4K"
for d in "$@"; do
    n=$(name "$d")
    c="$OUT/$n.cache.txt"
    nc="$OUT/$n.nocache.txt"
    open=$(sed -n 's/^opened in \([0-9.]*\) ms.*/\1/p' "$c")
    first=$(sed -n 's/.*frame (start view, level [0-9]*, [0-9]* tiles) \([0-9.]*\) ms.*/\1/p' "$c")
    peak=$(sed -n 's/.*peak resident memory \([0-9.]*\) MB;.*/\1/p' "$c")
    end=$(sed -n 's/^peak resident memory of the whole run: \([0-9.]*\) MB/\1/p' "$c")
    hd=$(awk '$3 == "1920x1080" && $4 == 600 {print $7}' "$c")
    hdnc=$(awk '$3 == "1920x1080" && $4 == 600 {print $7}' "$nc")
    uhdnc=$(awk '$3 == "3840x2160" && $4 == 600 {print $7}' "$nc")
    p99=$(awk '$1 == "there+back" && $2 == "3840x2160" {print $5}' "$c")
    printf '%-10s %9s %11s %9s %9s %12s %12s %12s %9s\n' "$n" "$open" "$first" "$peak" "$end" \
        "$hd" "$hdnc" "$uhdnc" "$p99"
done
