#!/bin/bash
# Takes a screenshot of the desktop window in a real X server (Xvfb).
#   scripts/screenshot-gui.sh [BUILD_DIR] [OUT.png]
set -euo pipefail
build="${1:-build}"
out="${2:-gui-screenshot.png}"
display=:97
Xvfb "$display" -screen 0 800x600x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY="$display" QT_QPA_PLATFORM=xcb KVR_SCREENSHOT="$out" "$build/kvrconversion-gui"
echo "screenshot: $out"
