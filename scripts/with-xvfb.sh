#!/bin/sh
# Runs a command with DISPLAY set to a private Xvfb server (24-bit), which it stops afterwards.
# Usage: with-xvfb.sh COMMAND [ARGS...]
for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    DISPLAY_NUM=$n
    break
done
# -noreset: the server would otherwise reset whenever its last client (one test) leaves and
# refuse the next test's connection for that moment.
Xvfb ":$DISPLAY_NUM" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
XVFB_PID=$!
trap 'kill $XVFB_PID 2>/dev/null; wait $XVFB_PID 2>/dev/null' EXIT INT TERM
for i in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$DISPLAY_NUM" ] && break
    sleep 0.1
done
DISPLAY=":$DISPLAY_NUM" "$@"
