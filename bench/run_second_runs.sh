#!/bin/bash
# Second runs, full disks, held locks and signals, end to end with the
# largest workbook:
#   - two converts into one database at once (the largest plant, then the
#     example plant started 0 to 3.5 s later), on SQLite directly, SQLite
#     through its ODBC driver and PostgreSQL: the tables afterwards must be
#     one plant's, or one plant's then the other's, never a mixture;
#   - (as root, where tmpfs can be mounted) the largest plant into a copy of
#     its database on a small disk, at 24 sizes, its backup kept beside it
#     as by default: wherever the run says
#     "nothing in it was changed", the file alone (no journal beside it) is
#     byte for byte the one before, and the next run works;
#   - PostgreSQL with a table locked by another session: how long a convert
#     waits, and how soon Ctrl-C ends it.
#   bench/run_second_runs.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
work="$(mktemp -d)"
chmod 755 "$work"  # the server runs as another user when this runs as root
pg="$work/pg"
mounted=""
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null || true
  bash "$here/../tests/odbc/postgres.sh" stop "$pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
export ODBCSYSINI="$build/odbc" ODBCINI="$build/odbc/odbc.ini"
kvr="$build/kvrconversion"
python3 "$here/make_workbook.py" "$work/max.xlsx" --max
max="$work/max.xlsx"
plant="$here/../examples/plant.xlsx"
postgres="odbc:$(bash "$here/../tests/odbc/postgres.sh" start "$pg")"
tables=(InptAlphas OutptAlphas OptoAlphas RelayAlphas ConsoleAlphas LocationAlphas OptoRelaySets)
"$kvr" new-database --database "$work/pristine.db" --workbook "$max" >/dev/null

# fresh ENGINE: a new database sized for the largest plant; prints its --database value.
fresh() {
  case "$1" in
    sqlite) cp "$work/pristine.db" "$work/s.db"; echo "$work/s.db" ;;
    odbc-sqlite) cp "$work/pristine.db" "$work/s.db"; echo "odbc:Driver={SQLite3};Database=$work/s.db;" ;;
    postgres)
      local sql=""
      for t in "${tables[@]}"; do sql+="DROP TABLE IF EXISTS \"$t\"; "; done
      psql -q -h "$pg" -U kvr -d switcher -c "$sql" >/dev/null 2>&1
      "$kvr" new-database --database "$postgres" --workbook "$max" >/dev/null
      echo "$postgres" ;;
  esac
}
# state ENGINE: a digest of every table's records.
state() {
  if [ "$1" = postgres ]; then
    for t in "${tables[@]}"; do
      psql -At -h "$pg" -U kvr -d switcher -c "SELECT md5(string_agg(r::text, '|' ORDER BY r::text)) FROM \"$t\" r"
    done | md5sum | cut -c1-12
  else
    python3 - "$work/s.db" <<'EOF'
import hashlib, sqlite3, sys
db = sqlite3.connect(sys.argv[1])
h = hashlib.md5()
for (t,) in db.execute("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"):
    for row in db.execute(f'SELECT * FROM "{t}" ORDER BY 1'):
        h.update(repr(row).encode())
print(h.hexdigest()[:12])
EOF
  fi
}
convert() {  # convert DATABASE WORKBOOK OUT
  mkdir -p "$3"
  "$kvr" convert --database "$1" --workbook "$2" --output-dir "$3" --yes --no-backup >"$3.out" 2>"$3.err"
}

echo "== two runs at once =="
for engine in sqlite odbc-sqlite postgres; do
  declare -A known=()
  db=$(fresh $engine); known[$(state $engine)]="untouched"
  convert "$db" "$max" "$work/o1"; known[$(state $engine)]="large"
  convert "$db" "$plant" "$work/o2"; known[$(state $engine)]="large then example"
  db=$(fresh $engine); convert "$db" "$plant" "$work/o3"; known[$(state $engine)]="example"
  convert "$db" "$max" "$work/o4"; known[$(state $engine)]="example then large"
  mixtures=0
  for offset in 0 0.5 1 1.5 2 2.5 3 3.5; do
    db=$(fresh $engine)
    rm -rf "$work"/a "$work"/b
    status_a=0 status_b=0
    convert "$db" "$max" "$work/a" & first=$!
    sleep "$offset"
    convert "$db" "$plant" "$work/b" || status_b=$?
    wait $first || status_a=$?
    s=$(state $engine)
    says="${known[$s]:-MIXTURE}"
    [ "$says" = MIXTURE ] && mixtures=$((mixtures + 1))
    printf '%-12s offset %-4s large: exit %s, example: exit %s -> %s\n' "$engine" "$offset" "$status_a" "$status_b" "$says"
    [ "$status_b" -ne 0 ] && grep -h -m1 "problem:" "$work/b.err" | sed 's/.*could not/  could not/' | cut -c1-300 || true
  done
  echo "$engine: $mixtures mixtures in 8"
  unset known
done

if [ "$(id -u)" -eq 0 ] && mkdir -p "$work/disk" && mount -t tmpfs -o size=1m tmpfs "$work/disk" 2>/dev/null; then
  umount "$work/disk"
  echo "== a full disk =="
  told=0 true_told=0 next_ok=0 completed=0
  for kib in $(seq 8000 300 14900); do
    mount -t tmpfs -o size=${kib}k tmpfs "$work/disk"; mounted="$work/disk"
    cp "$work/pristine.db" "$work/disk/s.db"
    rm -rf "$work/o" && mkdir -p "$work/o"
    status=0
    "$kvr" convert --database "$work/disk/s.db" --workbook "$max" --output-dir "$work/o" --yes \
      >/dev/null 2>"$work/err" || status=$?
    if grep -q -E "nothing (in it )?was changed|left unchanged" "$work/err"; then
      told=$((told + 1))
      if [ ! -e "$work/disk/s.db-journal" ] && cmp -s "$work/disk/s.db" "$work/pristine.db"; then
        true_told=$((true_told + 1))
      else
        echo "${kib} KiB: said nothing was changed, but the file differs or a journal is left"
      fi
    elif [ "$status" -eq 0 ]; then
      completed=$((completed + 1))
    else
      echo "${kib} KiB: exit $status: $(grep -m1 problem "$work/err" | cut -c1-200)"
    fi
    "$kvr" convert --database "$work/disk/s.db" --workbook "$plant" --output-dir "$work/o" --yes --no-backup \
      --dry-run >/dev/null 2>&1 && next_ok=$((next_ok + 1))
    rm -f "$work/disk/s.db.bak"
    umount "$work/disk"; mounted=""
  done
  echo "full disk: 24 sizes, $completed completed, $told said nothing was changed ($true_told true), next run worked $next_ok times"
fi

echo "== a table locked by another session (PostgreSQL) =="
db=$(fresh postgres)
psql -q -h "$pg" -U kvr -d switcher -c 'BEGIN; LOCK TABLE "InptAlphas"; SELECT pg_sleep(20); COMMIT;' >/dev/null 2>&1 &
holder=$!
sleep 1
start=$(date +%s.%N)
status=0
"$kvr" convert --database "$db" --workbook "$plant" --output-dir "$work/l1" --yes >/dev/null 2>"$work/err" || status=$?
echo "gave up after $(echo "$(date +%s.%N) - $start" | bc) s (exit $status): $(grep -m1 problem "$work/err" | cut -c1-160)"
"$kvr" convert --database "$db" --workbook "$plant" --output-dir "$work/l2" --yes >/dev/null 2>"$work/err" &
run=$!
sleep 2
start=$(date +%s.%N)
kill -INT $run
status=0
wait $run || status=$?
echo "Ctrl-C 2 s into the wait: ended $(echo "$(date +%s.%N) - $start" | bc) s later, exit $status"
kill $holder 2>/dev/null || true
wait $holder 2>/dev/null || true
