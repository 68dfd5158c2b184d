#!/bin/bash
# Another program opens what export writes: LibreOffice, headless, converts
# every sheet of the exported .xlsx and .ods to CSV, without a repair prompt
# (a damaged package stops the conversion), and the cells it reads are the
# ones written.
#
#   libreoffice_test.sh KVRCONVERSION SOURCE_DIR
#
# Skipped (exit 77) where LibreOffice is not installed.
set -euo pipefail
kvr=$1 src=$2
command -v soffice >/dev/null || { echo "soffice not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$kvr" new-database --database d.db --workbook "$src/examples/plant.xlsx" >/dev/null
"$kvr" convert --database d.db --workbook "$src/examples/plant.xlsx" --output-dir files --no-backup >/dev/null
"$kvr" xpoints --workbook "$src/examples/plant.xlsx" --output-dir files >/dev/null
# Notes a careless writer or reader changes: blanks at the ends or in a run,
# tabs and line breaks, what looks like a formula, a number or an escape.
python3 - d.db <<'PY'
import sqlite3, sys
notes = ["  lead", "trail  ", "a   b", "tab\tin", "two\nlines", "=1+1", "_x0041_", "<&>\"'", "012", "Ünïcødé 日本"]
with sqlite3.connect(sys.argv[1]) as db:
    for n, text in enumerate(notes, 1):
        db.execute('UPDATE InptAlphas SET Notes = ? WHERE "Chan Num" = ?', (text, n))
PY
for ext in xlsx ods; do
  "$kvr" export --workbook "plant.$ext" --database d.db --con "files/Plant A.con" \
    --crosspoints "files/Plant A Crosspoints.xpt" >/dev/null
  mkdir -p "csv-$ext"
  # Filter options: comma, quote, UTF-8, from line 1, ..., every sheet to a file of its own (-1).
  (cd "csv-$ext" && HOME="$work/home" timeout 120 soffice --headless --norestore \
     --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1' "../plant.$ext" \
     >/dev/null 2>&1)
  sheets=$(ls "csv-$ext" | wc -l)
  expected=$("$kvr" sheet --workbook "plant.$ext" --sheet System >/dev/null && python3 - "plant.$ext" <<'PY'
import sys, zipfile, re
z = zipfile.ZipFile(sys.argv[1])
if sys.argv[1].endswith(".xlsx"):
    print(len(re.findall(r"<sheet ", z.read("xl/workbook.xml").decode())))
else:
    print(len(re.findall(r"<table:table ", z.read("content.xml").decode())))
PY
)
  [ "$sheets" -eq "$expected" ] || { echo "FAIL $ext: LibreOffice gave $sheets sheets of $expected"; exit 1; }
  head -1 "csv-$ext/plant-Sources.csv" | grep -q '^Chan Num,Chan Label,LocalLabel,' ||
    { echo "FAIL $ext: Sources headings"; head -2 "csv-$ext/plant-Sources.csv"; exit 1; }
  grep -q '^1,CD 1,CD 1,' "csv-$ext/plant-Sources.csv" || { echo "FAIL $ext: Sources row 1"; exit 1; }
  grep -q '^Name:,Plant A' "csv-$ext/plant-System.csv" || { echo "FAIL $ext: System name"; exit 1; }
  # Every cell of every sheet as LibreOffice reads it, beside the program's
  # own reading of the same file.
  python3 - "$kvr" "plant.$ext" "csv-$ext" <<'PY' || exit 1
import csv, json, os, subprocess, sys
kvr, book, folder = sys.argv[1:4]
def trimmed(rows):
    rows = [list(r) for r in rows]
    for r in rows:
        while r and r[-1] == "":
            r.pop()
    while rows and not rows[-1]:
        rows.pop()
    return rows
stem = os.path.splitext(os.path.basename(book))[0]
bad = 0
for name in sorted(os.listdir(folder)):
    sheet = name[len(stem) + 1:-4]
    with open(os.path.join(folder, name), newline="", encoding="utf-8") as f:
        theirs = trimmed(csv.reader(f))
    ours = trimmed(json.loads(subprocess.run([kvr, "sheet", "--workbook", book, "--sheet", sheet], check=True,
                                             capture_output=True, text=True).stdout)["cells"])
    if book.endswith(".ods"):
        # LibreOffice's CSV of an .ods leaves out a cell's tab stops (<text:tab/>),
        # those of the .ods files it saves itself too.
        ours = [[cell.replace("\t", "") for cell in row] for row in ours]
    if theirs != ours:
        bad += 1
        row = next(i for i in range(max(len(theirs), len(ours)))
                   if i >= len(theirs) or i >= len(ours) or theirs[i] != ours[i])
        print(f"FAIL {book}: sheet {sheet!r} row {row + 1}: LibreOffice {theirs[row] if row < len(theirs) else None}, "
              f"ours {ours[row] if row < len(ours) else None}")
sys.exit(1 if bad else 0)
PY
  echo "PASS $ext: LibreOffice reads all $sheets sheets"
done
