#!/bin/bash
# Reads a 32768-row x 20-column "Sources" workbook three ways, side by side:
# the kvrconversion reader, a bare libzip + expat parse, and openpyxl in
# read-only mode (Debian's python3-openpyxl). Also the reader's peak memory.
#   bench/run_workbook_bench.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/make_workbook.py" "$work/large.xlsx" --inputs 32767
KVR_BENCH_WORKBOOK="$work/large.xlsx" "$build/kvr_bench_workbook" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true
/usr/bin/python3 "$here/openpyxl_read.py" "$work/large.xlsx" 3
/usr/bin/time -f "kvrconversion sheet Sources: peak RSS %M KiB, %e s" \
  "$build/kvrconversion" sheet --workbook "$work/large.xlsx" --sheet Sources > /dev/null
