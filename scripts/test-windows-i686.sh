#!/bin/bash
# Runs the 32-bit Windows build's tests under Debian's 32-bit Wine
# (wine32:i386, installed here with the i386 architecture), where the
# machine can run 32-bit programs at all. A kernel without IA-32 emulation
# cannot: that is said, and the suite is left built but not run.
#   scripts/test-windows-i686.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build-windows-i686}
# Whether this machine runs 32-bit programs: a minimal 32-bit Linux program
# that only exits is run (a kernel without IA-32 emulation refuses it).
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
python3 - "$probe" <<'PY'
import struct, sys
base, code = 0x08048000, bytes.fromhex("b801000000" "31db" "cd80")  # exit(0)
size = 52 + 32 + len(code)
header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
program = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(header + program + code)
PY
chmod +x "$probe"
if ! "$probe" 2>/dev/null; then
  echo "test-windows-i686: this machine runs no 32-bit programs (its kernel has no IA-32 emulation);" \
       "the 32-bit suite in $build is built but not run"
  exit 0
fi
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# 32-bit Wine hands ODBC calls to the host's 32-bit unixODBC, which loads the
# 32-bit SQLite ODBC driver the engine tests use, and the Jet stand-in built
# over it for the host with the 32-bit compiler and ODBC headers.
packages=(wine32:i386 libodbc2:i386 libsqliteodbc:i386 unixodbc-dev:i386 g++-multilib xvfb)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "test-windows-i686: 32-bit Wine does not start on this machine; the 32-bit suite in $build is built but not run"
  exit 0
fi
ctest --test-dir "$build" --output-on-failure -j2
