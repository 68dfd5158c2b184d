#!/bin/bash
# Takes pictures of the Windows window under Wine, in a virtual desktop on
# Xvfb (so windows have title bars): the window as it starts, and after a
# conversion with "Preview" on, the window, the preview and the details; and
# the real file dialog as Convert asks for the database.
#   scripts/screenshot-windows.sh [BUILD_DIR] [OUT_PREFIX] [WORKBOOK]
# writes OUT_PREFIX.png, OUT_PREFIX-window.png, -preview.png, -details.png and -filedialog.png.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$here/build-windows-x86_64}" && pwd)"
out="${2:-windows-screenshot}"
workbook="${3:-$here/examples/plant.xlsx}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$workbook" "$work/plant.${workbook##*.}"
(cd "$work" && "$here/cmake/wine-gui-run.sh" explorer /desktop=shot,1024x768 \
   "$build/kvr_win32_screenshots.exe" "plant.${workbook##*.}" shot)
# The pictures as PNG: the .bmp files are 24-bit, bottom-up.
python3 - "$work" "$out" <<'PY'
import struct, sys, zlib
work, out = sys.argv[1], sys.argv[2]
for suffix in ("", "-window", "-preview", "-details", "-filedialog"):
    data = open(f"{work}/shot{suffix}.bmp", "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride: offset + y * stride + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    open(f"{out}{suffix}.png", "wb").write(png)
PY
echo "screenshots: $out.png $out-window.png $out-preview.png $out-details.png $out-filedialog.png"
