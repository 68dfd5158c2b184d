#!/bin/bash
# The largest workbook the formats allow, converted end to end, side by side
# with openpyxl (read-only mode) merely reading it and a bare libzip + expat
# parse of all its sheets; peak memory of the conversion; and the database
# phase beside a bare loop of prepared SQLite UPDATEs.
#   bench/run_max_bench.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/make_workbook.py" "$work/max.xlsx" --max
echo "workbook: $(du -h "$work/max.xlsx" | cut -f1)"
"$build/kvrconversion" new-database --database "$work/pristine.db" --inputs 32767 --outputs 32767 \
  --consoles 257 --locations 527 --sets 257 >/dev/null
# Each run's wall time, CPU time (user + system: the conversion parses on
# several threads) and peak memory.
timed() {  # label command...
  local label=$1
  shift
  /usr/bin/time -o "$work/time" -f "%e %U %S %M" "$@" >/dev/null 2>"$work/err" || true
  local wall user sys peak cpu
  read -r wall user sys peak < <(tail -n 1 "$work/time")
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
  echo "$label $wall $cpu $peak" >> "$work/times"
  echo "$label: $wall s, CPU $cpu s, peak RSS $peak KiB"
}
for i in 1 2 3; do
  rm -rf "$work/out" && mkdir "$work/out" && cp "$work/pristine.db" "$work/out/s.db"
  timed convert "$build/kvrconversion" convert --database "$work/out/s.db" \
    --workbook "$work/max.xlsx" --output-dir "$work/out" --yes
  grep -q problem "$work/err" && { echo "conversion reported problems:"; head "$work/err"; }
done
KVR_BENCH_WORKBOOK="$work/max.xlsx" "$build/kvr_bench_workbook" --benchmark_filter=BareLibzipExpat \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "mean|median"
/usr/bin/python3 "$here/openpyxl_read.py" "$work/max.xlsx" 1 || echo "openpyxl: not run (python3-openpyxl missing?)"
"$build/kvr_bench_database" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null \
  | grep -E "mean|median"
# The export of what the largest conversion wrote, as .xlsx and as .ods:
# time and peak memory beside the conversion's.
# (The workbook's 100000 crosspoints are more than a file holds: a problem, and the first 32767.)
for i in 1 2 3; do
  timed xpoints "$build/kvrconversion" xpoints --workbook "$work/max.xlsx" --output-dir "$work/out"
done
xpoints="$work/out/Max Plant Crosspoints.xpt"
# Goal: each format's CPU time at most 1.5 times that of the runs that wrote
# what it reads (convert: the database and console files; xpoints: the
# crosspoint file), in at most 128 MiB.
for i in 1 2 3; do
  for ext in xlsx ods; do
    rm -f "$work/back.$ext"
    timed "export.$ext" "$build/kvrconversion" export --workbook "$work/back.$ext" \
      --database "$work/out/s.db" --con "$work/out/Max Plant.con" --crosspoints "$xpoints" --yes
    [ -s "$work/back.$ext" ] || { echo "export to .$ext failed:"; head -n 3 "$work/err"; }
  done
done
python3 - "$work/times" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    label, wall, cpu, peak = line.split()
    runs.setdefault(label, []).append((float(wall), float(cpu), int(peak)))
def median(label, i): return statistics.median(r[i] for r in runs[label])
cpu = median("convert", 1) + median("xpoints", 1)
wall = median("convert", 0) + median("xpoints", 0)
for ext in ("xlsx", "ods"):
    label = "export." + ext
    print(f"export .{ext}: CPU {median(label, 1):.2f} s = {median(label, 1) / cpu:.2f}x convert's and xpoints' "
          f"{cpu:.2f} s (goal <= 1.5x), wall {median(label, 0):.2f} s = {median(label, 0) / wall:.2f}x, "
          f"peak {max(r[2] for r in runs[label]) / 1024:.0f} MiB (goal <= 128)")
PY
# The window with the preview of the largest conversion open, filtered and
# sorted: the memory it holds (goal: 256 MiB).
if [ -x "$build/kvr_window_bench" ]; then
  QT_QPA_PLATFORM=offscreen "$build/kvr_window_bench" "$work/max.xlsx" 2>/dev/null
fi
