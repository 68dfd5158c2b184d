#!/usr/bin/env python3
"""The codes docs/report.md lists are the codes the program gives.

    tests/report_codes_test.py

Programs read a report's codes: each problem's and notice's code the
sources give (the last argument of a Note, or a Report with an ErrorCode and
a code of its own, and the names ErrorCode takes) must be listed under
"Codes" in docs/report.md, and each code listed there must be one the
sources give. Exits 1 naming the codes on one side only.
"""
import pathlib
import re
import sys

TOP = pathlib.Path(__file__).resolve().parent.parent
SOURCES = ["base", "workbook", "tables", "console", "demo", "xpoints", "app/core", "app/cli"]


def documented():
    text = (TOP / "docs" / "report.md").read_text(encoding="utf-8")
    section = text.split("## Codes", 1)[1].split("\n## ", 1)[0]
    fields = text.split("## Fields", 1)[1].split("\n## ", 1)[0]
    return set(re.findall(r"`([a-z0-9]+(?:-[a-z0-9]+)*)`", section)), set(re.findall(r"`([a-z_]+)`", fields))


def given():
    codes = set()
    for folder in SOURCES:
        for path in (TOP / folder).glob("*.cc"):
            if path.name.endswith("_test.cc"):
                continue
            # Messages may hold ";": every literal but a code's is emptied.
            text = re.sub(r'"(?:[^"\\\n]|\\.)*"',
                          lambda m: m.group(0) if re.fullmatch(r'"[a-z0-9-]+"', m.group(0)) else '""',
                          path.read_text(encoding="utf-8"))
            # A notice's code closes its Note(...); a problem's own code
            # follows its ErrorCode.
            codes |= set(re.findall(r"\bNote\((?:[^;]|\n)*?,\s*\"([a-z0-9]+(?:-[a-z0-9]+)+|[a-z]+)\"\)\s*;", text))
            codes |= set(re.findall(r"ErrorCode::\w+,\s*\"([a-z0-9]+(?:-[a-z0-9]+)*)\"\)", text))
        # Codes given by name: `constexpr const char* kCellsUnreadTag = "cells-unread";`.
        for path in (TOP / folder).glob("*.h"):
            codes |= set(re.findall(r"\bk\w+Tag = \"([a-z0-9]+(?:-[a-z0-9]+)*)\"", path.read_text(encoding="utf-8")))
    # The names of the error codes themselves.
    problems = (TOP / "base" / "problems.cc").read_text(encoding="utf-8")
    codes |= set(re.findall(r"case ErrorCode::\w+: return \"([a-z0-9-]+)\";", problems))
    return codes


def main():
    (docs, fields), code = documented(), given()
    docs -= fields - code  # the section names report fields too ("no `sheet` field")
    ok = True
    for name in sorted(code - docs):
        print(f"FAIL the program gives the code `{name}`, which docs/report.md does not list")
        ok = False
    for name in sorted(docs - code):
        print(f"FAIL docs/report.md lists the code `{name}`, which the program never gives")
        ok = False
    if ok:
        print(f"PASS the {len(docs)} codes docs/report.md lists are the codes the program gives")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
