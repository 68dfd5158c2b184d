#!/bin/bash
# Installs the Debian packages that building, testing and benchmarking need.
# Idempotent: when every package is present it returns at once without touching apt.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang
  libzip-dev libpugixml-dev libexpat1-dev
  libsqlite3-dev libcli11-dev nlohmann-json3-dev
  unixodbc-dev libsqliteodbc odbc-postgresql postgresql
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev libgsf-1-dev
  python3 python3-jsonschema python3-pefile xvfb util-linux strace
  lintian desktop-file-utils appstream man-db
  libreoffice-calc-nogui
)

# A decimal-comma locale lets the tests prove that no result depends on the
# machine's locale. Generated once; harmless when localedef is absent.
ensure_test_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && command -v localedef >/dev/null; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || true
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  ensure_test_locale
  exit 0
fi
echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_test_locale
