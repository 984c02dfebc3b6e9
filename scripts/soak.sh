#!/bin/sh
echo "no soak test yet" >&2
exit 1
