# Sourced by soak.sh and leak-check.sh: starts a private 24-bit Xvfb and points DISPLAY at it.
#
#   start_private_xvfb WORK_DIR     sets DISPLAY and XVFB_PID, or returns 1
#   stop_private_xvfb
#
# Xvfb picks the display number itself (-displayfd) and announces it once it accepts clients, so
# runs started at the same moment (ctest -j) can never end up sharing one display and typing
# into each other's windows.
XVFB_PID=
start_private_xvfb() {
    local announce="$1/xvfb-display"
    : > "$announce"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$announce" \
        >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        if [ -s "$announce" ]; then
            DISPLAY=":$(head -n 1 "$announce")"
            export DISPLAY
            return 0
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "could not start Xvfb" >&2
    return 1
}
stop_private_xvfb() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=
    fi
}
