#!/bin/bash
# Cross-builds kvrconversion.exe and the C++ test suite for Windows with
# Debian's MinGW-w64, and packages the program as a zip.
#
#   scripts/build-windows.sh [x86_64|i686] [BUILD_DIR]
#
# The dependencies are built once into a cache folder ($KVR_WINDOWS_CACHE,
# default ~/.cache/kvr-windows/ARCH) and reused: zlib from Debian's
# libz-mingw-w64-dev; libzip, expat, pugixml and SQLite from Debian's own
# source packages (fetched with apt-get source through a private apt
# configuration whose deb-src line names the release's main suite, taken
# from the machine's own sources); GoogleTest from Debian's googletest
# sources; CLI11 and nlohmann-json header-only from their Debian packages.
# Everything links statically.
set -euo pipefail
arch=${1:-x86_64}
case "$arch" in x86_64|i686) ;; *) echo "usage: $0 [x86_64|i686] [BUILD_DIR]" >&2; exit 2 ;; esac
root="$(cd "$(dirname "$0")/.." && pwd)"
build=$(realpath -m "${2:-$root/build-windows-$arch}")
triple=$arch-w64-mingw32
cache=${KVR_WINDOWS_CACHE:-$HOME/.cache/kvr-windows}/$arch
jobs=${JOBS:-2}
prefix=$cache/install
toolchain=$root/cmake/mingw-w64.cmake

# The private apt configuration that fetches Debian source packages.
source_apt() {
  local src=$cache/../sources
  mkdir -p "$src/apt/lists/partial" "$src/apt/cache/archives/partial"
  local uri codename
  uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null ||
        awk '/^deb / {print $2; exit}' /etc/apt/sources.list)
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "deb-src $uri $codename main" > "$src/apt/sources.list"
  apt=(-o "Dir::Etc::SourceList=$src/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
       -o "Dir::State::Lists=$src/apt/lists" -o "Dir::Cache=$src/apt/cache")
  [ -n "$(ls "$src/apt/lists" 2>/dev/null | grep -v partial)" ] || apt-get "${apt[@]}" update -qq
}

fetch_sources() {  # package... (each fetched once)
  local src=$cache/../sources codename p
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  local apt=()
  for p in "$@"; do
    ls "$src/${p}"_*.orig.tar.* >/dev/null 2>&1 && continue
    [ ${#apt[@]} -gt 0 ] || source_apt
    (cd "$src" && apt-get "${apt[@]}" source --download-only -qq "$p/$codename" 2>/dev/null)
  done
}

unpack() {  # package -> prints the folder its source tree unpacked into
  local src=$cache/../sources work=$cache/work/$1
  rm -rf "$work" && mkdir -p "$work"
  local tarball
  tarball=$(ls "$src"/"$1"_*.orig.tar.* | head -n 1)
  tar -xf "$tarball" -C "$work"
  ls -d "$work"/*/ | head -n 1 | sed 's:/$::'
}

cmake_dep() {  # source-folder extra-args...
  local dir=$1
  shift
  local out
  out=$cache/work/build-$(basename "$dir")
  cmake -S "$dir" -B "$out" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKVR_MINGW_ARCH="$arch" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$out" -j"$jobs" >/dev/null
  cmake --install "$out" >/dev/null
}

build_dependencies() {
  [ -f "$prefix/.done" ] && return
  rm -rf "$cache/work" "$prefix"
  mkdir -p "$prefix/include" "$prefix/lib"
  fetch_sources expat libzip pugixml sqlite3
  # zlib: Debian's MinGW build.
  cp /usr/"$triple"/include/zlib.h /usr/"$triple"/include/zconf.h "$prefix/include/"
  cp /usr/"$triple"/lib/libz.a "$prefix/lib/"
  cmake_dep "$(unpack expat)/expat" -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_DOCS=OFF -DEXPAT_SHARED_LIBS=OFF -DEXPAT_MSVC_STATIC_CRT=OFF
  cmake_dep "$(unpack pugixml)" -DPUGIXML_BUILD_TESTS=OFF
  cmake_dep "$(unpack libzip)" -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_OPENSSL=OFF \
    -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include"
  # SQLite: the amalgamation made from the source tree (needs tclsh), then
  # compiled on its own.
  local sqlite
  sqlite=$(unpack sqlite3)
  (cd "$sqlite" && ./configure --host="$triple" BCC=gcc >/dev/null && make BEXE= sqlite3.c >/dev/null)
  "$triple-gcc-posix" -O2 -c "$sqlite/sqlite3.c" -o "$sqlite/sqlite3.o" -DSQLITE_THREADSAFE=1 \
    -DSQLITE_ENABLE_DESERIALIZE
  "$triple-ar" rcs "$prefix/lib/libsqlite3.a" "$sqlite/sqlite3.o"
  cp "$sqlite/sqlite3.h" "$prefix/include/"
  # GoogleTest from Debian's sources.
  cmake_dep /usr/src/googletest -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF
  # Header-only libraries, copied so that no Linux header joins the build.
  cp -r /usr/include/CLI "$prefix/include/"
  cp -r /usr/include/nlohmann "$prefix/include/"
  mkdir -p "$prefix/lib/cmake"
  cp -r /usr/share/cmake/CLI11 "$prefix/lib/cmake/" 2>/dev/null || cp -r /usr/lib/cmake/CLI11 "$prefix/lib/cmake/" 2>/dev/null || true
  cp -r /usr/share/cmake/nlohmann_json "$prefix/lib/cmake/" 2>/dev/null || true
  rm -rf "$cache/work"
  touch "$prefix/.done"
}

install_packages() {
  local packages=(cmake tcl googletest libcli11-dev nlohmann-json3-dev python3 "g++-mingw-w64-${arch//_/-}-posix"
                  "gcc-mingw-w64-${arch//_/-}-posix" libz-mingw-w64-dev binutils-mingw-w64-${arch//_/-})
  [ "$arch" = x86_64 ] && packages+=(wine64 xvfb)
  packages+=(nsis)
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_packages
build_dependencies
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKVR_MINGW_ARCH="$arch" \
  -DKVR_WINDOWS_DEPS="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
  -DKVR_BUILD_GUI=OFF -DKVR_BUILD_BENCHMARKS=OFF >/dev/null
# Everything, tests included. The 32-bit build (for the 32-bit Jet ODBC
# driver) is tested where the machine runs 32-bit programs, under Debian's
# 32-bit Wine (wine32:i386): scripts/test-windows-i686.sh.
cmake --build "$build" -j"$jobs"

# The zip: both programs, the README for Windows users, the example plant, and
# the licence of everything linked in. A licence that cannot be found stops
# the packaging: nothing ships without its licence.
pkg=$build/kvrconversion-windows-$arch
rm -rf "$pkg" "$pkg.zip"
mkdir -p "$pkg/licences" "$pkg/example" "$pkg/docs"
for exe in kvrconversion kvrconversion-gui; do
  "$triple-strip" -o "$pkg/$exe.exe" "$build/$exe.exe"
done
sed 's/$/\r/' "$root/docs/windows.md" > "$pkg/README.txt"  # CRLF, for every Notepad
sed 's/$/\r/' "$root/LICENSE" > "$pkg/LICENSE.txt"
cp "$root/examples/plant.xlsx" "$root/examples/Switcher.db" "$pkg/example/"
# What --report writes, which --help points at.
sed 's/$/\r/' "$root/docs/report.md" > "$pkg/docs/report.md"
cp "$root/docs/report.schema.json" "$pkg/docs/"
licence() {  # name source: a file, or SOURCE-PACKAGE.debian.tar.xz for its debian/copyright
  local name=$1 source=$2
  case "$source" in
    *.debian.tar.xz)
      local tarball
      tarball=$(ls "$cache"/../sources/$source 2>/dev/null | head -n 1)
      [ -n "$tarball" ] && tar -xOf "$tarball" debian/copyright > "$pkg/licences/$name.txt" 2>/dev/null ;;
    *) [ -f "$source" ] && cp "$source" "$pkg/licences/$name.txt" ;;
  esac
  [ -s "$pkg/licences/$name.txt" ] || { echo "build-windows: no licence found for $name ($source)" >&2; exit 1; }
}
licence expat "expat_*.debian.tar.xz"
licence libzip "libzip_*.debian.tar.xz"
licence pugixml "pugixml_*.debian.tar.xz"
licence sqlite3 "sqlite3_*.debian.tar.xz"
licence zlib /usr/share/doc/libz-mingw-w64-dev/copyright
licence mingw-w64-runtime /usr/share/doc/mingw-w64-common/copyright
licence gcc-runtime /usr/share/doc/gcc-mingw-w64-base/copyright
licence cli11 /usr/share/doc/libcli11-dev/copyright
licence nlohmann-json /usr/share/doc/nlohmann-json3-dev/copyright
(cd "$build" && python3 -c "import shutil,sys; shutil.make_archive(sys.argv[1], 'zip', '.', sys.argv[2])" \
   "kvrconversion-windows-$arch" "kvrconversion-windows-$arch")
echo "packaged $pkg.zip"

# The setup program (NSIS from Debian), from the same files as the zip,
# its welcome and finish pages with the program's own panel.
python3 "$root/scripts/make_icon.py" --wizard "$build/setup-panel.bmp"
makensis -V2 -DARCH="$arch" -DVERSION="$(sed -n 's/^project(kvrconversion VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")" \
  -DSRC="$pkg" -DICON="$build/kvrconversion.ico" -DPANEL="$build/setup-panel.bmp" \
  -DOUTFILE="$build/kvrconversion-setup-$arch.exe" \
  "$root/packaging/windows/setup.nsi"
echo "setup program: $build/kvrconversion-setup-$arch.exe"
