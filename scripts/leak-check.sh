#!/bin/bash
# Leak check: runs the viewer under valgrind on a private Xvfb from start to q and fails when
# valgrind finds a definitely lost block that the program itself allocated, or any memory error
# (invalid read or write, use of uninitialised values, bad free).
#
#   scripts/leak-check.sh [BUILD [WORLD]]     (BUILD defaults to build, WORLD to BUILD/world)
#
# "Allocated by the program" means: the first caller above the allocation functions (malloc,
# calloc, realloc, operator new, strdup, g_malloc and friends) is the viewer's own code. Blocks
# whose allocation came from inside a library (X, GTK, fontconfig, SDL) are that library's
# business and are listed but not counted. LEAK_CHECK_KEEP=1 keeps valgrind's full log.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:-build}" && pwd)
WORLD=${2:-$BUILD/world}

for tool in valgrind xdotool Xvfb; do
    command -v $tool >/dev/null 2>&1 || { echo "leak-check: $tool is missing" >&2; exit 2; }
done
[ -x "$BUILD/quorvik" ] || { echo "leak-check: no viewer at $BUILD/quorvik" >&2; exit 2; }
[ -d "$WORLD/ezw_data" ] || { echo "leak-check: no data set at $WORLD/ezw_data" >&2; exit 2; }
WORLD=$(cd "$WORLD" && pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quorvik-leak-XXXXXX")
PID=
. "$HERE/private-xvfb.sh"
cleanup() {
    [ -n "$PID" ] && kill -9 "$PID" 2>/dev/null
    stop_private_xvfb
    if [ -n "${LEAK_CHECK_KEEP:-}" ]; then echo "leak-check: log kept in $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM
start_private_xvfb "$WORK" || exit 2

cd "$WORLD" || exit 2
valgrind --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --num-callers=30 --log-file="$WORK/valgrind.txt" \
    "$BUILD/quorvik" >"$WORK/stdout.txt" 2>"$WORK/stderr.txt" &
PID=$!

# Under valgrind start-up takes a while: wait for the drawing window (its caption has "fps:").
VIEW=
for i in $(seq 1 1800); do
    kill -0 "$PID" 2>/dev/null || break
    VIEW=$(xdotool search --name "fps:" 2>/dev/null | head -n 1)
    [ -n "$VIEW" ] && break
    sleep 0.1
done
[ -n "$VIEW" ] || { echo "leak-check: the viewer's window did not appear" >&2; tail "$WORK/stderr.txt" >&2; exit 1; }
# Let it draw a few frames, then hold q until it has gone (a frame takes a while under valgrind).
sleep 5
xdotool windowfocus "$VIEW" 2>/dev/null
xdotool keydown q
for i in $(seq 1 1200); do
    kill -0 "$PID" 2>/dev/null || break
    sleep 0.1
done
xdotool keyup q 2>/dev/null
if kill -0 "$PID" 2>/dev/null; then
    echo "leak-check: the viewer did not end on q" >&2
    exit 1
fi
wait "$PID"
status=$?
PID=
if [ "$status" != 0 ]; then
    echo "leak-check: the viewer ended with status $status" >&2
    tail "$WORK/stderr.txt" >&2
    exit 1
fi
grep -q "<ESC> or <q> pressed. clean up!" "$WORK/stderr.txt" || {
    echo "leak-check: the viewer did not end through q" >&2
    exit 1
}
grep -q "LEAK SUMMARY\|All heap blocks were freed" "$WORK/valgrind.txt" || {
    echo "leak-check: valgrind wrote no leak summary" >&2
    exit 1
}

awk -f "$HERE/valgrind-lost-owners.awk" "$WORK/valgrind.txt" > "$WORK/lost.txt"

summary=$(grep -A1 "LEAK SUMMARY" "$WORK/valgrind.txt" | sed -n 's/.*definitely lost: //p')
echo "leak-check: valgrind definitely lost (all owners): ${summary:-0 bytes}"
lib_blocks=$(grep -c '^library' "$WORK/lost.txt")
ours=$(grep -c '^program' "$WORK/lost.txt")
echo "leak-check: definitely lost records allocated inside libraries: $lib_blocks"
grep '^library' "$WORK/lost.txt" | cut -f2- | sort | uniq -c | sort -rn | head -n 10 | sed 's/^/    /'
# Memory errors valgrind saw on the way (none are expected, from any code).
errors=$(grep -cE '^==[0-9]+== (Invalid (read|write|free)|Conditional jump|Use of uninitialised|Syscall param|Mismatched free|Source and destination overlap)' "$WORK/valgrind.txt")
if [ "$errors" -gt 0 ]; then
    echo "leak-check: FAIL: valgrind reported $errors memory error(s):" >&2
    grep -E -A6 '^==[0-9]+== (Invalid (read|write|free)|Conditional jump|Use of uninitialised|Syscall param|Mismatched free|Source and destination overlap)' \
        "$WORK/valgrind.txt" | head -n 40 >&2
    LEAK_CHECK_KEEP=1
    exit 1
fi
if [ "$ours" -gt 0 ]; then
    echo "leak-check: FAIL: $ours definitely lost record(s) allocated by the program:" >&2
    grep '^program' "$WORK/lost.txt" | cut -f2- | sed 's/^/    /' >&2
    LEAK_CHECK_KEEP=1
    exit 1
fi
echo "leak-check: PASS (no definitely lost block allocated by the program)"
