#!/usr/bin/env python3
"""Fails when a folder of the core includes a header of a layer it may not
use: each layer reaches only those under it.

    layers.py SOURCE_DIR

    base < workbook < tables, console < demo, xpoints < app/core
           < app/cli, app/qt, app/win32

Tests, benchmarks and fuzzers are left out: they may reach any layer.
"""
import pathlib
import re
import sys

BELOW = {
    "base": set(),
    "workbook": {"base"},
    "tables": {"base", "workbook"},
    "console": {"base", "workbook"},
    "demo": {"base", "workbook", "console"},
    "xpoints": {"base", "workbook", "console"},
    "app/core": {"base", "workbook", "tables", "console", "demo", "xpoints"},
}
for front in ("app/cli", "app/qt", "app/win32"):
    BELOW[front] = BELOW["app/core"] | {"app/core"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    parts = path.split("/")
    return "/".join(parts[:2]) if parts[0] == "app" else parts[0]


def main():
    top = pathlib.Path(sys.argv[1])
    wrong = []
    for layer, allowed in BELOW.items():
        for source in sorted((top / layer).glob("*")):
            if source.suffix not in (".cc", ".h") or "_test" in source.stem or source.stem.endswith("_bench"):
                continue
            if "test" in source.stem or "screenshots" in source.stem:
                continue
            for included in INCLUDE.findall(source.read_text(encoding="utf-8")):
                target = layer_of(included)
                if "/" not in included or target == layer or target not in BELOW and target != "tests":
                    continue
                if target not in allowed:
                    wrong.append("%s includes %s: %s may use only %s" % (
                        source.relative_to(top), included, layer, ", ".join(sorted(allowed)) or "itself"))
    for line in wrong:
        print(line, file=sys.stderr)
    sys.exit(1 if wrong else 0)


if __name__ == "__main__":
    main()
