#!/bin/sh
# Runs a command with DISPLAY set to a private Xvfb server (24-bit), which it stops afterwards.
# Usage: with-xvfb.sh COMMAND [ARGS...]
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quorvik-xvfb-XXXXXX")
. "$HERE/private-xvfb.sh"
trap 'stop_private_xvfb; rm -rf "$WORK"' EXIT
trap 'exit 1' INT TERM
start_private_xvfb "$WORK" || exit 1
"$@"
