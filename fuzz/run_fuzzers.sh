#!/bin/bash
# Builds the libFuzzer harnesses with clang and fuzzes each for a given time.
#   fuzz/run_fuzzers.sh [SECONDS_PER_HARNESS] [HARNESS...]
# Seeds: the repository's fixtures and the peer workbooks beside it. New
# inputs that add coverage are merged into fuzz/corpus/<harness>/ (minimised;
# copies of the seeds are left out); crashes land in fuzz/crashes/<harness>/.
# Limits per input: 1 s and 512 MB. Inputs over 32 KB are not kept in the
# corpus (they are mutated copies of whole seed files).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
seconds="${1:-1800}"
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(xlsx xls ods cell_number)
build="${KVR_FUZZ_BUILD:-$root/build-fuzz}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKVR_BUILD_FUZZERS=ON -DKVR_BUILD_GUI=OFF -DKVR_BUILD_TESTS=OFF -DKVR_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target $(printf 'kvr_fuzz_%s ' "${harnesses[@]}") >/dev/null
peers="$root/../shared/peer-workbooks/files"
peer_ods="$root/../shared/peer-ods/files"
# A small quarantine keeps AddressSanitizer's own memory out of the 512 MB budget.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=32:malloc_context_size=10}"
for h in "${harnesses[@]}"; do
  seeds="$(mktemp -d)"
  work="$(mktemp -d)"
  case "$h" in
    xlsx) for f in "$root"/tests/fixtures/*.xlsx "$peers"/*; do
            [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 262144 ] && head -c 2 "$f" | grep -q PK && cp "$f" "$seeds/"; done
          # Package-building inputs: a sheet, shared strings and styles separated by NUL bytes.
          printf '<worksheet><sheetData><row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" s="1"><v>43905.5</v></c><c t="inlineStr"><is><r><t>x_x000D_</t></r></is></c><c t="b"><v>1</v></c><c t="e"><v>#N/A</v></c></row></sheetData></worksheet>\0<sst><si><t>Mic</t></si><si><r><t>a</t></r><rPh><t>p</t></rPh></si></sst>\0<styleSheet><numFmts><numFmt numFmtId="164" formatCode="[h]:mm"/></numFmts><cellXfs><xf numFmtId="0"/><xf numFmtId="164"/></cellXfs></styleSheet>' > "$seeds/package" ;;
    xls)  for f in "$root"/tests/fixtures/*.xls "$peers"/*; do
            [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 262144 ] && [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' ')" = "d0cf11e0" ] && cp "$f" "$seeds/"; done ;;
    ods)  for f in "$root"/examples/*.ods "$peer_ods"/*.ods; do
            [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 262144 ] && head -c 2 "$f" | grep -q PK && cp "$f" "$seeds/"; done
          # Content-building inputs: the content.xml of a package built around it.
          printf '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0"><office:body><office:spreadsheet><table:table table:name="S"><table:table-row table:number-rows-repeated="3"><table:table-cell office:value-type="float" office:value="1.5" table:number-columns-repeated="2"/><table:covered-table-cell/><table:table-cell office:value-type="string"><text:p>a<text:s text:c="2"/>b<text:tab/><text:span>c</text:span></text:p><text:p/></table:table-cell><table:table-cell office:value-type="date" office:date-value="2021-01-01T10:10:10"/><table:table-cell office:value-type="time" office:time-value="PT10H10M10S"/><table:table-cell office:value-type="boolean" office:boolean-value="true"/><table:table-cell table:formula="of:=1/0" office:value-type="string" calcext:value-type="error"><text:p>#DIV/0!</text:p></table:table-cell></table:table-row></table:table></office:spreadsheet></office:body></office:document-content>' > "$seeds/content" ;;
    cell_number) printf '12 dB' > "$seeds/a"; printf '&HFFFF' > "$seeds/b"; printf ' -3.5E2x' > "$seeds/c" ;;
  esac
  mkdir -p "$here/corpus/$h" "$here/crashes/$h"
  cp -n "$here/corpus/$h"/* "$work/" 2>/dev/null || true
  echo "== $h: ${seconds}s"
  (cd "$here/crashes/$h" && "$build/kvr_fuzz_$h" "$work" "$seeds" -max_total_time="$seconds" -timeout=1 \
     -rss_limit_mb=512 -malloc_limit_mb=512 -max_len=262144 -print_final_stats=1 -dict="$here/dictionaries/workbook.dict" 2>&1 | tee "$work.log" | tail -n 25) || true
  grep -E "^#[0-9]+" "$work.log" | tail -n 1 || true  # the last status line: executions, coverage, corpus
  # Keep only what adds coverage, and no verbatim seed.
  merged="$(mktemp -d)"
  "$build/kvr_fuzz_$h" -merge=1 "$merged" "$work" >/dev/null 2>&1 || true
  for s in "$seeds"/*; do
    for m in "$merged"/*; do [ -f "$m" ] && cmp -s "$s" "$m" && rm -f "$m"; done
  done
  # Large inputs are mutated copies of whole seed files; the seeds themselves
  # are replayed from where they live, so only small new inputs are kept.
  find "$merged" -type f -size +32k -delete
  rm -rf "$here/corpus/$h"
  mv "$merged" "$here/corpus/$h"
  rm -rf "$seeds" "$work" "$work.log"
  echo "corpus: $(ls "$here/corpus/$h" | wc -l) inputs, $(du -sh "$here/corpus/$h" | cut -f1)"
done
