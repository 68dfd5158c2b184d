#!/usr/bin/env python3
"""Every test tests/PROMISES.md names still exists: a renamed or removed test
fails here instead of leaving its promise unheld in silence.

    promises_test.py

Checks each GoogleTest (`Suite.Name`) and Qt test (`Class::slot`) the table
names against the test sources, and each script or test file it names
against the tree.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def sources():
    text = []
    for folder, _, files in os.walk(ROOT):
        if "/build" in folder or "/." in folder:
            continue
        for f in files:
            if f.endswith("_test.cc") or f.endswith("_test.h") or f == "gui_test_support.h":
                with open(os.path.join(folder, f), encoding="utf-8") as src:
                    text.append(src.read())
    return "\n".join(text)


def main():
    promises = open(os.path.join(ROOT, "tests", "PROMISES.md"), encoding="utf-8").read()
    code = sources()
    missing = []
    for suite, sep, name in set(re.findall(r"\b([A-Z][A-Za-z0-9]*Test)(\.|::)([A-Za-z][A-Za-z0-9]*)", promises)):
        if sep == ".":
            found = re.search(r"TEST(_F|_P)?\(\s*%s,\s*%s\)" % (suite, name), code)
        else:
            found = re.search(r"class %s\b" % suite, code) and re.search(r"void %s\(\)" % name, code)
        if not found:
            missing.append(suite + sep + name)
    for path in set(re.findall(r"\b((?:tests|bench|scripts)/[A-Za-z0-9_./-]+\.(?:py|sh|cc|h))", promises)):
        if not os.path.exists(os.path.join(ROOT, path)):
            missing.append(path)
    for m in sorted(missing):
        print("PROMISES.md names a test that does not exist: " + m)
    print("%d tests and files named, %d missing" % (len(re.findall(r"Test(?:\.|::)", promises)), len(missing)))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
