#!/bin/bash
# Takes pictures of the desktop window in a real X server (Xvfb): the window
# as it starts, and after a conversion of the example plant with "Preview"
# on, the window, the preview of the changes and the details of the run.
#   scripts/screenshot-gui.sh [BUILD_DIR] [OUT_PREFIX]
# writes OUT_PREFIX.png, OUT_PREFIX-window.png, -preview.png and -details.png.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build}"
out="${2:-gui-screenshot}"
display=:97
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY="$display" QT_QPA_PLATFORM=xcb KVR_SCREENSHOT="$out.png" "$build/kvrconversion-gui"
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/kvr_gui_screenshots" "$here/examples/plant.xlsx" "$out"
echo "screenshots: $out.png $out-window.png $out-preview.png $out-details.png"
