#!/bin/bash
# Runs a Windows program that opens windows under Wine, in an X server of its
# own (Xvfb, on the first free display), in a Wine prefix apart from the
# headless tests'; the server ends with the program.
KVR_WINE_KIND=gui
. "$(dirname "$0")/wine-env.sh" "$1"
. "$(dirname "$0")/xvfb.sh"
start_xvfb || exit 1
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
"$wine" "$@"
