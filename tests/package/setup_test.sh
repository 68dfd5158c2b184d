#!/bin/bash
# The Windows setup program under Wine, as an IT department runs it: silent
# install into a fresh prefix (per user), the installed command line on the
# example plant against the golden outputs, the installed window's smoke
# test, an upgrade over it, the command line added to PATH on request, and a
# silent uninstall that leaves no file, Start-menu entry or uninstall key.
#   tests/package/setup_test.sh SETUP.exe SOURCE_DIR
set -euo pipefail
setup=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
src=$(cd "$2" && pwd)
work=$(mktemp -d)
# Wine's menu builder would put the Start-menu entry into the real home;
# the test's home is its own, and the builder off.
export WINEPREFIX=$work/prefix WINEDEBUG=-all HOME=$work/home WINEDLLOVERRIDES="winemenubuilder.exe=d"
mkdir -p "$HOME"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
. "$src/cmake/xvfb.sh"
start_xvfb 1024x768x24
trap '"$wineserver" -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
. "$src/tests/package/check.sh"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
run() { "$wine" "$@"; local status=$?; "$wineserver" -w; return $status; }

"$wine" wineboot -i >/dev/null 2>&1; "$wineserver" -w
user=$(ls "$WINEPREFIX/drive_c/users" | grep -v -x -e Public -e crossover | head -n 1)
home="$WINEPREFIX/drive_c/users/$user"
installed="$home/AppData/Local/Programs/KVR Conversion"
shortcut="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/KVR Conversion.lnk"

check "the setup program installs silently, per user" run "$setup" /S
for f in kvrconversion.exe kvrconversion-gui.exe README.txt LICENSE.txt uninstall.exe example/plant.xlsx \
         example/Switcher.db docs/report.md licences/expat.txt; do
  check "it installs $f" test -f "$installed/$f"
done
check "the window is in the Start menu" test -f "$shortcut"
check "the uninstaller is registered" grep -q 'Uninstall\\\\KVRConversion' "$WINEPREFIX/user.reg"

out="$work/plant"
mkdir -p "$out"
kvr=("$wine" "$installed/kvrconversion.exe")
check "the installed command line makes a database for the example plant" \
  "${kvr[@]}" new-database --database "Z:$out/Switcher.db" --workbook "Z:$src/examples/plant.xlsx"
check "it converts the example plant" "${kvr[@]}" convert --database "Z:$out/Switcher.db" \
  --workbook "Z:$src/examples/plant.xlsx" --output-dir "Z:$out" --yes
check "demo-ini" "${kvr[@]}" demo-ini --workbook "Z:$src/examples/plant.xlsx" --output-dir "Z:$out"
check "xpoints" "${kvr[@]}" xpoints --workbook "Z:$src/examples/plant.xlsx" --output-dir "Z:$out"
for golden in "$src"/tests/e2e/golden/*; do
  name=$(basename "$golden")
  [ "$name" = tables.txt ] && continue
  check "$name as the golden one" cmp "$golden" "$out/$name"
done
check "the installed window opens" bash -c "'$wine' '$installed/kvrconversion-gui.exe' --smoke-test | grep -q 'the window opens'"

check "an upgrade over it installs silently" run "$setup" /S /PATH
check "the upgrade leaves one uninstall entry" test "$(grep -c 'Uninstall\\\\KVRConversion\]' "$WINEPREFIX/user.reg")" -eq 1
check "/PATH puts the command line on the user's PATH" \
  bash -c "grep -A20 '^\[Environment\]' '$WINEPREFIX/user.reg' | grep -qi 'Programs\\\\\\\\KVR Conversion'"
check "an upgrade without /PATH keeps the command line on PATH" run "$setup" /S
check "the PATH entry is still there" \
  bash -c "grep -A20 '^\[Environment\]' '$WINEPREFIX/user.reg' | grep -qi 'Programs\\\\\\\\KVR Conversion'"
check "the uninstaller runs silently" run "$installed/uninstall.exe" /S
sleep 1
check "no file of the program stays" test ! -e "$installed"
check "the Start-menu entry is gone" test ! -e "$shortcut"
check "the uninstall key is gone" bash -c "! grep -q 'KVRConversion' '$WINEPREFIX/user.reg'"
check "the PATH entry is gone" bash -c "! grep -A20 '^\[Environment\]' '$WINEPREFIX/user.reg' | grep -qi 'KVR Conversion'"
check "no empty Path value is left" bash -c "! grep -A20 '^\[Environment\]' '$WINEPREFIX/user.reg' | grep -qi '^\"Path\"'"
check "no menu entry was written into the home" test ! -e "$HOME/.local/share/applications"
echo "$failures failed"
[ "$failures" -eq 0 ]
