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
  echo "PASS $ext: LibreOffice reads all $sheets sheets"
done
