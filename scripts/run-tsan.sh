#!/bin/sh
# Runs the render engine's tests (frames on 1, 2 and 8 threads, the tile cache, prefetching while
# frames are drawn, the worker pool) in the ThreadSanitizer build; any report fails the run.
set -e
TSAN_BUILD=$1
started=$(date +%s)
# A hang fails the run after 20 minutes instead of holding it up.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    timeout 1200 "$TSAN_BUILD/tests/render/quorvik_engine_test" --gtest_brief=1
echo "thread sanitizer build: engine tests took $(($(date +%s) - started)) s"
