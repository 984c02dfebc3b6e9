#!/bin/sh
# Runs a command with DISPLAY set to a private Xvfb server (24-bit), which it stops afterwards.
# Usage: with-xvfb.sh COMMAND [ARGS...]
#
# Xvfb chooses a free display number itself (-displayfd) and announces it once it accepts
# clients, so two runs started at the same moment never share a display.
# -noreset: the server would otherwise reset whenever its last client (one test) leaves and
# refuse the next test's connection for that moment.
ANNOUNCE=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$ANNOUNCE" >/dev/null 2>&1 &
XVFB_PID=$!
trap 'kill $XVFB_PID 2>/dev/null; wait $XVFB_PID 2>/dev/null; rm -f "$ANNOUNCE"' EXIT INT TERM
for i in $(seq 1 100); do
    [ -s "$ANNOUNCE" ] && break
    if ! kill -0 "$XVFB_PID" 2>/dev/null; then
        echo "with-xvfb.sh: Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -s "$ANNOUNCE" ]; then
    echo "with-xvfb.sh: Xvfb did not announce its display" >&2
    exit 1
fi
DISPLAY=":$(head -n 1 "$ANNOUNCE")" "$@"
