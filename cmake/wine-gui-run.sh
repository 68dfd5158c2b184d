#!/bin/bash
# Runs a Windows program that opens windows under Wine, in an X server of its
# own (Xvfb, on the first free display), in a Wine prefix apart from the
# headless tests'; the server ends with the program.
KVR_WINE_KIND=gui
. "$(dirname "$0")/wine-env.sh" "$1"
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null & echo "pid $!")
xvfb="" display=""
for _ in 1 2; do  # the server's process id and, once it is ready, its display, in either order
  read -r line <&3 || break
  case "$line" in pid\ *) xvfb=${line#pid } ;; *) display=$line ;; esac
done
[ -n "$display" ] || { echo "wine-gui-run: Xvfb did not start" >&2; exit 1; }
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
DISPLAY=":$display" "$wine" "$@"
