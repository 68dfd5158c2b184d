#!/bin/bash
# Runs a Windows program of the cross build under Wine: headless, quiet, in a
# Wine prefix of its own beside the build (made on first use).
: "${WINEPREFIX:=${KVR_WINEPREFIX:-$HOME/.cache/kvr-windows/wineprefix}}"
export WINEPREFIX WINEDEBUG=-all DISPLAY=
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
exec "$wine" "$@"
