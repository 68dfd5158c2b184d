#!/bin/bash
# The database phase through ODBC against SQLite directly, in one run:
#   - new-database at the maximum sizes: directly, through the SQLite ODBC
#     driver, and into PostgreSQL through its ODBC driver;
#   - the maximum workbook converted into a fresh maximum-size database:
#     directly, through the SQLite ODBC driver, and into PostgreSQL;
#   - the example plant converted into the maximum-size database: directly
#     and into PostgreSQL.
# PostgreSQL is the tests' private server (tests/odbc/postgres.sh: a Unix
# socket, fsync off), its files in memory (/dev/shm) where there is one: a
# server's writes are its own machine's, and left in this machine's page
# cache they would be flushed by the convert's own fsync of its files (0.4 s
# of the largest plant's run, measured); the drivers are registered privately from the build
# folder's odbcinst.ini. Each run is timed RUNS times (default 3); medians,
# ratios to SQLite directly, and peak memory are printed.
#   bench/run_odbc_bench.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
runs=${RUNS:-3}
work="$(mktemp -d)"
chmod 755 "$work"  # the server runs as another user when this runs as root
pg="$work/pg"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then pg="/dev/shm/kvr-bench-pg.$$"; fi
trap 'bash "$here/../tests/odbc/postgres.sh" stop "$pg" >/dev/null 2>&1 || true; rm -rf "$work" "$pg"' EXIT
export ODBCSYSINI="$build/odbc" ODBCINI="$build/odbc/odbc.ini"
kvr="$build/kvrconversion"
python3 "$here/make_workbook.py" "$work/max.xlsx" --max
plant="$here/../examples/plant.xlsx"
postgres="odbc:$(bash "$here/../tests/odbc/postgres.sh" start "$pg")"
sizes=(--inputs 32767 --outputs 32767 --consoles 257 --locations 527 --sets 257)
tables=(InptAlphas OutptAlphas OptoAlphas RelayAlphas ConsoleAlphas LocationAlphas OptoRelaySets)

drop_pg() {
  local sql=""
  for t in "${tables[@]}"; do sql+="DROP TABLE IF EXISTS \"$t\"; "; done
  psql -q -h "$pg" -U kvr -d switcher -c "$sql" >/dev/null
}
# timed LABEL COMMAND...: runs it once under /usr/bin/time, appends "seconds kib" to $work/LABEL.
timed() {
  local label=$1
  shift
  sync  # no run pays for flushing what an earlier one left unwritten
  /usr/bin/time -o "$work/time" -f "%e %M" "$@" >/dev/null 2>"$work/err" || { echo "$label failed:"; head -n 3 "$work/err"; }
  if grep -q "^problem" "$work/err"; then echo "$label reported problems:"; grep "^problem" "$work/err" | head -n 3; fi
  cat "$work/time" >>"$work/$label"
}
convert() {  # convert WORKBOOK DATABASE
  rm -rf "$work/out" && mkdir "$work/out"
  "$kvr" convert --database "$2" --workbook "$1" --output-dir "$work/out" --yes --no-backup
}

"$kvr" new-database --database "$work/pristine.db" "${sizes[@]}" >/dev/null
for i in $(seq "$runs"); do
  rm -f "$work/n.db" "$work/o.db"
  timed new-direct "$kvr" new-database --database "$work/n.db" "${sizes[@]}"
  timed new-odbc-sqlite "$kvr" new-database --database "odbc:Driver={SQLite3};Database=$work/o.db;" "${sizes[@]}"
  drop_pg
  timed new-postgres "$kvr" new-database --database "$postgres" "${sizes[@]}"

  cp "$work/pristine.db" "$work/s.db"
  timed max-direct bash -c "$(declare -f convert); kvr='$kvr' work='$work' convert '$work/max.xlsx' '$work/s.db'"
  cp "$work/pristine.db" "$work/s.db"
  timed max-odbc-sqlite bash -c "$(declare -f convert); kvr='$kvr' work='$work' convert '$work/max.xlsx' 'odbc:Driver={SQLite3};Database=$work/s.db;'"
  drop_pg
  "$kvr" new-database --database "$postgres" "${sizes[@]}" >/dev/null
  timed max-postgres bash -c "$(declare -f convert); kvr='$kvr' work='$work' convert '$work/max.xlsx' '$postgres'"
  timed max-postgres-again bash -c "$(declare -f convert); kvr='$kvr' work='$work' convert '$work/max.xlsx' '$postgres'"

  cp "$work/pristine.db" "$work/s.db"
  timed plant-direct bash -c "$(declare -f convert); kvr='$kvr' work='$work' convert '$plant' '$work/s.db'"
  drop_pg
  "$kvr" new-database --database "$postgres" "${sizes[@]}" >/dev/null
  timed plant-postgres bash -c "$(declare -f convert); kvr='$kvr' work='$work' convert '$plant' '$postgres'"
done

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
report() {  # report LABEL BASELINE
  local s m b
  s=$(cut -d' ' -f1 <"$work/$1" | median)
  m=$(cut -d' ' -f2 <"$work/$1" | sort -n | tail -n 1)
  b=$(cut -d' ' -f1 <"$work/$2" | median)
  awk -v l="$1" -v s="$s" -v b="$b" -v m="$m" 'BEGIN { printf "%-20s %7.2f s  %6.2fx  peak %6.1f MiB\n", l, s, s / b, m / 1024 }'
}
echo "medians of $runs runs; ratios to SQLite directly"
for l in new-direct new-odbc-sqlite new-postgres; do report "$l" new-direct; done
for l in max-direct max-odbc-sqlite max-postgres max-postgres-again; do report "$l" max-direct; done
for l in plant-direct plant-postgres; do report "$l" plant-direct; done
