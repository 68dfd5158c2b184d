#!/bin/bash
# Runs a Windows program of the cross build under Wine: headless, quiet, in a
# Wine prefix of its own beside the build (made on first use).
. "$(dirname "$0")/wine-env.sh" "$1"
export DISPLAY=
exec "$wine" "$@"
