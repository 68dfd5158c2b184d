#!/bin/bash
# Runs a Windows program of the cross build under Wine: headless, quiet, in a
# Wine prefix of its own (made on first use). The Wine server is kept alive
# for half a minute after the last program, so that a test run of many short
# programs starts it once.
: "${WINEPREFIX:=${KVR_WINEPREFIX:-$HOME/.cache/kvr-windows/wineprefix}}"
export WINEPREFIX WINEDEBUG=-all DISPLAY=
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
server=$(command -v wineserver || ls /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver 2>/dev/null | head -n 1)
[ -n "$server" ] && "$server" -p30 >/dev/null 2>&1
exec "$wine" "$@"
