#!/bin/sh
# Runs the benchmarks of the build folder given.
set -e
BUILD=$1
for b in "$BUILD"/bench/*; do
    [ -x "$b" ] && [ -f "$b" ] && "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
