#!/bin/bash
# The maximum workbook converted into the same SQLite database twice: once
# directly, once through the SQLite ODBC driver (registered privately from
# the build folder's odbcinst.ini). The difference is the database phase's
# cost of going through ODBC.
#   bench/run_odbc_bench.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ODBCSYSINI="$build/odbc" ODBCINI="$build/odbc/odbc.ini"
python3 "$here/make_workbook.py" "$work/max.xlsx" --max
"$build/kvrconversion" new-database --database "$work/pristine.db" --inputs 32767 --outputs 32767 \
  --consoles 257 --locations 527 --sets 257 >/dev/null
run() {  # label database-argument
  rm -rf "$work/out" && mkdir "$work/out" && cp "$work/pristine.db" "$work/s.db"
  /usr/bin/time -o "$work/time" -f "%e" "$build/kvrconversion" convert --database "$2" \
    --workbook "$work/max.xlsx" --output-dir "$work/out" --yes >/dev/null 2>"$work/err" || true
  grep -q problem "$work/err" && { echo "$1 reported problems:"; head -n 3 "$work/err"; }
  echo "$1 $(cat "$work/time") s"
}
for i in 1 2 3; do
  run native "$work/s.db"
  run odbc-sqlite "odbc:Driver={SQLite3};Database=$work/s.db;"
done
