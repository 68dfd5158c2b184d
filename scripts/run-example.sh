#!/bin/bash
# The main job on the bundled example: makes a fresh switcher database sized
# for the example plant, converts examples/plant.xlsx into it, and writes the
# console files, DemoSetup.ini and the crosspoint file into BUILD_DIR/example.
#   scripts/run-example.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$here/build}" && pwd)"
out="$build/example"
rm -rf "$out"
mkdir -p "$out"
kvr="$build/kvrconversion"
"$kvr" new-database --database "$out/Switcher.db" --workbook "$here/examples/plant.xlsx"
"$kvr" convert --database "$out/Switcher.db" --workbook "$here/examples/plant.xlsx" --output-dir "$out" --yes
"$kvr" demo-ini --workbook "$here/examples/plant.xlsx" --output-dir "$out"
"$kvr" xpoints --workbook "$here/examples/plant.xlsx" --output-dir "$out"
echo "outputs in $out"
