#!/bin/sh
# Runs every test: the release build's full suite (window tests included, under a private Xvfb),
# then the sanitizer build's unit tests.
set -e
BUILD=$1
ASAN_BUILD=$2
HERE=$(cd "$(dirname "$0")" && pwd)
status=0
"$HERE/with-xvfb.sh" ctest --test-dir "$BUILD" --output-on-failure -j 2 || status=1
if [ -n "$ASAN_BUILD" ] && [ -d "$ASAN_BUILD" ]; then
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
        "$HERE/with-xvfb.sh" ctest --test-dir "$ASAN_BUILD" --output-on-failure -j 2 -L unit || status=1
fi
exit $status
