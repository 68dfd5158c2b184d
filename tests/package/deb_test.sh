#!/bin/bash
# The Debian package as a user gets it: made with cpack (twice, with
# SOURCE_DATE_EPOCH, to the same bytes), unpacked into a throwaway root; the
# installed command line converts the example plant to the golden outputs,
# the installed window answers --version under Xvfb, the manual pages
# render, the desktop entry and AppStream metadata validate, the completion
# loads, and lintian finds no error.
#   tests/package/deb_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$src/tests/package/check.sh"

export SOURCE_DATE_EPOCH=1765000000
(cd "$build" && cpack -G DEB -B "$work/first" >/dev/null && cpack -G DEB -B "$work/second" >/dev/null)
deb=$(ls "$work"/first/kvrconversion_*_amd64.deb)
check "two builds of the package give the same bytes" cmp "$deb" "$work/second/$(basename "$deb")"
check "lintian finds no error" bash -c "lintian --fail-on error '$deb'"

check "the package depends on the window's platform plugins" \
  bash -c "dpkg-deb -f '$deb' Depends | grep -q 'qt6-qpa-plugins'"
dpkg-deb -x "$deb" "$work/root"
root=$work/root
kvr=$root/usr/bin/kvrconversion
out=$work/plant
mkdir -p "$out"
check "the installed command line makes a database fitted to the example plant" \
  "$kvr" new-database --database "$out/Switcher.db" --workbook "$src/examples/plant.xlsx"
check "the installed command line converts the example plant" \
  "$kvr" convert --database "$out/Switcher.db" --workbook "$src/examples/plant.xlsx" --output-dir "$out" --yes
check "demo-ini" "$kvr" demo-ini --workbook "$src/examples/plant.xlsx" --output-dir "$out"
check "xpoints" "$kvr" xpoints --workbook "$src/examples/plant.xlsx" --output-dir "$out"
examples=$root/usr/share/doc/kvrconversion/examples
cp "$examples/Switcher.db" "$work/shipped.db"
check "the shipped example database takes the shipped example plant" \
  "$kvr" convert --database "$work/shipped.db" --workbook "$examples/plant.xlsx" --output-dir "$work/shipped" --yes
check "the report's description is where --help says" \
  bash -c "'$kvr' convert --help | grep -o '/usr/share/doc/kvrconversion/report.md' | sed 's|^|$root|' | xargs test -s"
for golden in "$src"/tests/e2e/golden/*; do
  name=$(basename "$golden")
  [ "$name" = tables.txt ] && continue
  check "$name as the golden one" cmp "$golden" "$out/$name"
done

. "$src/cmake/xvfb.sh"
start_xvfb 1024x768x24
check "the installed window answers --version under Xvfb" \
  bash -c "QT_QPA_PLATFORM=xcb '$root/usr/bin/kvrconversion-gui' --version | grep -q '^kvrconversion-gui '"
kill "$xvfb" 2>/dev/null || true

for page in kvrconversion kvrconversion-gui; do
  check "man -l renders $page(1)" bash -c "man -l '$root/usr/share/man/man1/$page.1.gz' | grep -q '^NAME'"
done
check "kvrconversion(1) documents every command" \
  bash -c "for c in convert demo-ini xpoints check new-database inspect sheet system; do
             man -l '$root/usr/share/man/man1/kvrconversion.1.gz' | grep -q \"^   \$c\" || exit 1; done"
check "the desktop entry validates" desktop-file-validate "$root/usr/share/applications/org.kvrconversion.KVRConversion.desktop"
check "the AppStream metadata validates" \
  appstreamcli validate --no-net "$root/usr/share/metainfo/org.kvrconversion.KVRConversion.metainfo.xml"
check "the icon is in the hicolor theme" test -s "$root/usr/share/icons/hicolor/48x48/apps/kvrconversion.png"
check "the bash completion offers the commands" \
  bash -c "source '$root/usr/share/bash-completion/completions/kvrconversion'; COMP_WORDS=(kvrconversion new-); COMP_CWORD=1;
           _kvrconversion; [ \"\${COMPREPLY[*]}\" = new-database ]"
mkdir -p "$work/complete/Plant A" && touch "$work/complete/Plant A.con"
check "the completion keeps a name with blanks whole" \
  bash -c "source '$root/usr/share/bash-completion/completions/kvrconversion'; cd '$work/complete';
           COMP_WORDS=(kvrconversion inspect 'Plant A.'); COMP_CWORD=2; _kvrconversion;
           [ \"\${#COMPREPLY[@]}\" = 1 ] && [ \"\${COMPREPLY[0]}\" = 'Plant A.con' ]"
check "the licence is in the docs" grep -q "Permission is hereby granted" "$root/usr/share/doc/kvrconversion/copyright"

echo "$failures failed"
[ "$failures" -eq 0 ]
