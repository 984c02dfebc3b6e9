#!/bin/bash
# Soak test: runs the real viewer on a data set for a while on a private Xvfb and keeps it busy
# with random input through xdotool: held movement and height keys (with and without the speed
# modifiers), camera print-outs, minimap clicks that start flights, window resizes (including sizes
# the viewer must ignore) and clicks on the control panel's check buttons, sliders and spin button.
#
#   scripts/soak.sh [BUILD [WORLD]]     (make soak; BUILD defaults to build, WORLD to BUILD/world)
#
# Environment: SOAK_SECONDS (default 120), SOAK_SEED (random seed, default: the time),
# SOAK_UNLIMITED=1 (also toggle the frame limiter; otherwise it stays on, so that the run does not
# take a whole core of a shared machine), SOAK_KEEP=1 (keep the work directory),
# SOAK_SELFTEST_LEAK_KB=N (makes every frame lose N kB, to check that the soak notices a leak),
# SOAK_CACHE_MB (the viewer's tile cache budget, default 2).
#
# Fails when the viewer crashes or exits on its own, when it does not end with status 0 on q at
# the end, or when its resident memory grows by more than 5 MB from the first to the last quarter
# of the run. Prints frames drawn and peak RSS.
#
# Frames drawn are counted exactly: a small preloaded library counts the viewer's SDL_Flip calls.
# Memory is compared at checkpoints taken every few seconds with the window back at 512 x 512, so
# that the frame buffer and the display surface have the same size at every checkpoint (a 1000 x
# 900 window alone holds 7 MB more than a small one). glibc's mmap threshold is pinned so that
# freed large buffers go back to the system instead of staying in the heap, and the RSS follows
# what the program holds rather than what the allocator keeps.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:-build}" && pwd)
WORLD=${2:-$BUILD/world}
SECONDS_TOTAL=${SOAK_SECONDS:-120}
# The tile cache grows by design until it holds its budget; a small one fills within the first
# checkpoints, so that what grows after it is a leak.
CACHE_MB=${SOAK_CACHE_MB:-2}
SEED=${SOAK_SEED:-$(date +%s)}

for tool in xdotool xwininfo Xvfb cc; do
    command -v $tool >/dev/null 2>&1 || { echo "soak: $tool is missing" >&2; exit 2; }
done
[ -x "$BUILD/quorvik" ] || { echo "soak: no viewer at $BUILD/quorvik" >&2; exit 2; }
[ -d "$WORLD/ezw_data" ] || { echo "soak: no data set at $WORLD/ezw_data" >&2; exit 2; }
WORLD=$(cd "$WORLD" && pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quorvik-soak-XXXXXX")
VIEWER_PID=
. "$HERE/private-xvfb.sh"
cleanup() {
    [ -n "$VIEWER_PID" ] && kill -9 "$VIEWER_PID" 2>/dev/null
    stop_private_xvfb
    if [ -n "${SOAK_KEEP:-}" ]; then echo "soak: work directory kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Always on a private display: xdotool moves the keyboard focus, which must not disturb (or be
# disturbed by) anything else running on a shared one.
start_private_xvfb "$WORK" || exit 2

# The frame counter: wraps SDL_Flip and writes the count to a file every 25 frames and at exit.
# It also makes the viewer's output line-buffered (the text is the same).
cat > "$WORK/count_frames.c" <<'EOF'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
static unsigned long frames;
static void save(void) {
    const char* path = getenv("QUORVIK_SOAK_FRAMES");
    FILE* f = path ? fopen(path, "w") : NULL;
    if (f) {
        fprintf(f, "%lu\n", frames);
        fclose(f);
    }
}
int SDL_Flip(void* surface) {
    static int (*real)(void*);
    static long leak_kb = -1;
    if (!real) real = (int (*)(void*))dlsym(RTLD_NEXT, "SDL_Flip");
    if (leak_kb < 0) {
        const char* kb = getenv("QUORVIK_SOAK_SELFTEST_LEAK_KB");
        leak_kb = kb ? atol(kb) : 0;
    }
    if (leak_kb > 0) { /* the soak's own self-test: memory it must notice growing */
        static void* volatile chain; /* kept, so that the compiler cannot drop the allocation */
        void** block = malloc((size_t)leak_kb * 1024);
        if (block) {
            memset(block, 1, (size_t)leak_kb * 1024);
            *block = chain;
            chain = block;
        }
    }
    if (++frames % 25 == 0) save();
    return real(surface);
}
__attribute__((destructor)) static void at_exit(void) { save(); }
/* Line-buffered output, so that the loading log can be watched while the viewer runs. */
__attribute__((constructor)) static void at_start(void) {
    setvbuf(stdout, NULL, _IOLBF, 0);
    setvbuf(stderr, NULL, _IOLBF, 0);
}
EOF
cc -shared -fPIC -O2 -o "$WORK/count_frames.so" "$WORK/count_frames.c" -ldl || exit 2

fail() {
    echo "soak: FAIL: $*" >&2
    echo "--- last lines of the viewer's standard error:" >&2
    tail -n 20 "$WORK/stderr.txt" >&2
    exit 1
}

# Repeatable random choices: `rnd N` sets R to 0..N-1 (called directly, never in a subshell, so
# that the generator's state advances).
RANDOM=$SEED
R=0
rnd() { R=$((RANDOM % $1)); }

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$VIEWER_PID/status" 2>/dev/null; }
hwm_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$VIEWER_PID/status" 2>/dev/null; }
alive() { kill -0 "$VIEWER_PID" 2>/dev/null; }

cd "$WORLD" || exit 2
# Native child windows make the panel's widgets visible to xwininfo, so they can be clicked.
GDK_NATIVE_WINDOWS=1 MALLOC_MMAP_THRESHOLD_=131072 QUORVIK_SOAK_FRAMES="$WORK/frames" \
    QUORVIK_SOAK_SELFTEST_LEAK_KB="${SOAK_SELFTEST_LEAK_KB:-0}" \
    LD_PRELOAD="$WORK/count_frames.so" "$BUILD/quorvik" --cache-mb "$CACHE_MB" \
    >"$WORK/stdout.txt" 2>"$WORK/stderr.txt" &
VIEWER_PID=$!

# Running: the loading log is complete and both windows exist.
VIEW= PANEL=
for i in $(seq 1 300); do
    alive || break
    if grep -q "loaded ezw files successfully" "$WORK/stdout.txt" 2>/dev/null; then
        VIEW=$(xdotool search --all --pid "$VIEWER_PID" --name "fps:" 2>/dev/null | head -n 1)
        PANEL=$(xdotool search --all --pid "$VIEWER_PID" --name "control panel" 2>/dev/null | head -n 1)
        [ -n "$VIEW" ] && [ -n "$PANEL" ] && break
    fi
    sleep 0.1
done
alive || { wait "$VIEWER_PID"; fail "the viewer ended during start-up (status $?)"; }
[ -n "$VIEW" ] && [ -n "$PANEL" ] || fail "the viewer's windows did not appear within 30 s"

# Without a window manager both windows open at the top-left corner, the panel over the minimap.
# Move the panel to the bottom-right corner, where the largest window of the run (1100 x 900)
# never reaches the minimap and the panel stays on top of whatever it covers.
xdotool windowmove "$PANEL" 930 600

# The minimap's size: the first "raw image is W x H" line of the log is the minimap's.
read -r MINI_W MINI_H < <(sed -n 's/^raw image is \([0-9]*\) x \([0-9]*\)$/\1 \2/p' \
    "$WORK/stdout.txt" | head -n 1)
MINI_W=${MINI_W:-256}
MINI_H=${MINI_H:-128}

# The panel's controls, top to bottom: "x y w h haschildren" of each direct child window. The
# lowest one is the Exit button, which is never clicked.
xwininfo -tree -id "$PANEL" | awk '
    /children:|child:/ { depth++ }
    /^ +0x[0-9a-f]+/ {
        indent = match($0, /[^ ]/) - 1
        if (indent == 5) {
            n = split($0, parts, " ")
            geom = parts[n - 1]
            if (match(geom, /^[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+$/)) {
                split(geom, g, /[x+]/)
                if (g[1] > 1 && g[2] > 1) { print g[4], g[3], g[1], g[2] }
            }
        }
    }' | sort -n > "$WORK/panel_controls"
CONTROLS=$(($(wc -l < "$WORK/panel_controls") - 1))
[ "$CONTROLS" -ge 1 ] || fail "no controls found in the panel window"
echo "soak: seed $SEED, $SECONDS_TOTAL s, minimap ${MINI_W}x$MINI_H, $CONTROLS panel controls"

KEYS=(w a s d Up Down Left Right r f w w s Up Down)
MODS=(none none none Shift_L Shift_R)

act_key() {
    xdotool windowfocus "$VIEW" 2>/dev/null
    rnd ${#KEYS[@]}
    local key=${KEYS[$R]}
    rnd ${#MODS[@]}
    local mod=${MODS[$R]}
    rnd 6
    [ "$mod" != none ] && xdotool keydown "$mod"
    xdotool keydown "$key"
    sleep "0.$((R + 1))"
    xdotool keyup "$key"
    [ "$mod" != none ] && xdotool keyup "$mod"
}
act_print() {
    xdotool windowfocus "$VIEW" 2>/dev/null
    xdotool key --delay 150 p
}
act_minimap() {
    rnd "$MINI_W"
    local x=$R
    rnd "$MINI_H"
    xdotool mousemove --window "$VIEW" "$x" "$R" mousedown 1
    sleep 0.15
    xdotool mouseup 1
}
act_resize() {
    # One in five sizes is 100 pixels or less in one direction, which the viewer ignores.
    local w h
    rnd 5
    if [ "$R" = 0 ]; then
        rnd 81
        w=$((R + 20))
    else
        rnd 1000
        w=$((R + 101))
    fi
    rnd 800
    h=$((R + 101))
    xdotool windowsize "$VIEW" "$w" "$h"
}
act_panel() {
    rnd "$CONTROLS"
    local y x w h cx cy
    read -r y x w h < <(sed -n "$((R + 1))p" "$WORK/panel_controls")
    # The frame limiter's check button sits at the left of the spin button's row.
    if [ -z "${SOAK_UNLIMITED:-}" ] && [ "$x" = 0 ] && [ "$w" -lt 300 ] && [ "$h" -le 32 ]; then
        return
    fi
    if [ "$h" -ge 40 ]; then
        rnd $((w - 20))
        cx=$((R + 10))                    # a slider: jump towards a random point
    elif [ "$w" -lt 100 ]; then
        cx=$((w - 6))                     # the spin button: its arrows
    else
        cx=12                             # a check button: its box
    fi
    rnd $((h - 4))
    cy=$((R + 2))
    xdotool mousemove --window "$PANEL" "$cx" "$cy" click 1 2>/dev/null
}
checkpoint() {
    xdotool windowsize "$VIEW" 512 512
    sleep 1
    echo "$(date +%s) $(rss_kb)" >> "$WORK/checkpoints"
}

START=$(date +%s)
END=$((START + SECONDS_TOTAL))
NEXT_CHECK=$START
: > "$WORK/checkpoints"
actions=0
while [ "$(date +%s)" -lt "$END" ]; do
    alive || break
    now=$(date +%s)
    if [ "$now" -ge "$NEXT_CHECK" ]; then
        checkpoint
        NEXT_CHECK=$((now + 4))
        continue
    fi
    rnd 10
    case $R in
        0 | 1 | 2 | 3) act_key ;;
        4) act_print ;;
        5 | 6) act_minimap ;;
        7) act_resize ;;
        8 | 9) act_panel ;;
    esac
    actions=$((actions + 1))
    rnd 9
    sleep "0.0$R"
done
alive || { wait "$VIEWER_PID"; fail "the viewer ended during the run (status $?)"; }
checkpoint
PEAK_KB=$(hwm_kb)

xdotool windowfocus "$VIEW" 2>/dev/null
xdotool keydown q
status=
for i in $(seq 1 150); do
    alive || break
    sleep 0.1
done
xdotool keyup q 2>/dev/null
if alive; then
    fail "the viewer did not end within 15 s of q"
fi
wait "$VIEWER_PID"
status=$?
VIEWER_PID=
[ "$status" = 0 ] || fail "the viewer ended with status $status on q"
grep -q "<ESC> or <q> pressed. clean up!" "$WORK/stderr.txt" || fail "no exit message after q"

FRAMES=$(cat "$WORK/frames" 2>/dev/null || echo 0)
[ "$FRAMES" -gt 0 ] || fail "no frame was drawn"
# Median RSS of the first and of the last quarter of the checkpoints.
GROWTH_KB=$(awk '{ rss[NR] = $2 } END {
        q = int(NR / 4); if (q < 1) q = 1
        for (i = 1; i <= q; i++) a[i] = rss[i]
        for (i = 1; i <= q; i++) b[i] = rss[NR - q + i]
        print median(b, q) - median(a, q)
    }
    function median(v, n,    i, j, t) {
        for (i = 2; i <= n; i++)
            for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return v[int((n + 1) / 2)]
    }' "$WORK/checkpoints")
CHECKS=$(wc -l < "$WORK/checkpoints")
echo "soak: $((END - START)) s, $actions input actions, $FRAMES frames drawn, peak RSS $((PEAK_KB / 1024)) MB ($PEAK_KB kB)"
echo "soak: RSS at $CHECKS checkpoints (kB): $(awk 'NR == 1 { first = $2; lo = $2; hi = $2 }
    { if ($2 < lo) lo = $2; if ($2 > hi) hi = $2; last = $2 }
    END { printf "first %s, last %s, lowest %s, highest %s", first, last, lo, hi }' "$WORK/checkpoints")"
echo "soak: RSS growth from the first to the last quarter: $GROWTH_KB kB"
[ "$GROWTH_KB" -le 5120 ] || fail "resident memory grew by $GROWTH_KB kB (more than 5 MB)"
echo "soak: PASS"
