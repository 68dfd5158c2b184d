#!/bin/bash
# Runs the 32-bit Windows build's tests under Debian's 32-bit Wine
# (wine32:i386, installed here with the i386 architecture), where the
# machine can run 32-bit programs at all. A kernel without IA-32 emulation
# cannot: that is said, and the suite is left built but not run.
#   scripts/test-windows-i686.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build-windows-i686}
if ! grep -q "CONFIG_IA32_EMULATION=y" <(zcat /proc/config.gz 2>/dev/null || cat "/boot/config-$(uname -r)" 2>/dev/null) \
   || dmesg 2>/dev/null | grep -qi "IA-32 emulation off\|32-bit emulation disabled"; then
  echo "test-windows-i686: this machine runs no 32-bit programs (no IA-32 emulation in its kernel);" \
       "the 32-bit suite in $build is built but not run"
  exit 0
fi
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends wine32:i386 xvfb
fi
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "test-windows-i686: 32-bit Wine does not start on this machine; the 32-bit suite in $build is built but not run"
  exit 0
fi
ctest --test-dir "$build" --output-on-failure -j2
