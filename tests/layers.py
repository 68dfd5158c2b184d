#!/usr/bin/env python3
"""Fails when a folder of the core includes a header of a layer it may not
use: each layer reaches only those under it.

    layers.py SOURCE_DIR
    layers.py --self-test   (a tree with a wrong include in each direction fails)

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


def wrong_includes(top):
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
    return wrong


def self_test():
    """Each include that points up or sideways is found; one that points
    down is not."""
    import tempfile
    cases = [("workbook/a.h", "tables/b.h", True), ("tables/a.cc", "app/core/b.h", True),
             ("console/a.h", "tables/b.h", True), ("base/a.h", "workbook/b.h", True),
             ("demo/a.cc", "xpoints/b.h", True), ("app/core/a.cc", "app/cli/b.h", True),
             ("workbook/a.cc", "tests/b.h", True), ("demo/a.cc", "console/b.h", False),
             ("app/qt/a.cc", "app/core/b.h", False), ("tables/a_test.cc", "app/core/b.h", False)]
    failed = 0
    for source, included, is_wrong in cases:
        with tempfile.TemporaryDirectory() as top:
            path = pathlib.Path(top) / source
            path.parent.mkdir(parents=True)
            path.write_text('#include "%s"\n' % included, encoding="utf-8")
            if bool(wrong_includes(pathlib.Path(top))) != is_wrong:
                print("layers.py misjudges %s including %s" % (source, included), file=sys.stderr)
                failed += 1
    return failed


def main():
    if sys.argv[1] == "--self-test":
        sys.exit(1 if self_test() else 0)
    wrong = wrong_includes(pathlib.Path(sys.argv[1]))
    for line in wrong:
        print(line, file=sys.stderr)
    sys.exit(1 if wrong else 0)


if __name__ == "__main__":
    main()
