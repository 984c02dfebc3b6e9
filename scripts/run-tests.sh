#!/bin/sh
# Runs every test: the release build's full suite (window tests included, under a private Xvfb),
# then the AddressSanitizer build's unit tests, then the ThreadSanitizer build's engine tests.
set -e
BUILD=$1
ASAN_BUILD=$2
TSAN_BUILD=$3
HERE=$(cd "$(dirname "$0")" && pwd)
status=0
# No test may hold the run up: one that has not ended after this many seconds fails (tests with
# their own limit keep it).
LIMIT=900
"$HERE/with-xvfb.sh" ctest --test-dir "$BUILD" --output-on-failure -j 2 --timeout $LIMIT || status=1
# Sanitizer build (-fsanitize=address,undefined -fno-sanitize-recover=all): every unit-labelled
# test, which includes the regression corpus replay and every fuzz seed replayed through the fuzz
# targets (tests/corpus). Leak detection is off for the suite as a whole (GTK and fontconfig keep
# memory until exit by design); the fuzz and corpus replays turn it back on for themselves.
if [ -n "$ASAN_BUILD" ] && [ -d "$ASAN_BUILD" ]; then
    started=$(date +%s)
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:check_initialization_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$HERE/with-xvfb.sh" ctest --test-dir "$ASAN_BUILD" --output-on-failure -j 2 --timeout $LIMIT -L unit || status=1
    echo "sanitizer build: unit tests took $(($(date +%s) - started)) s"
fi
if [ -n "$TSAN_BUILD" ] && [ -d "$TSAN_BUILD" ]; then
    "$HERE/run-tsan.sh" "$TSAN_BUILD" || status=1
fi
exit $status
