#!/usr/bin/env python3
"""Plants faults one at a time and tells which ones the tests catch.

    scripts/plant-faults.py FAULTS.json [--build DIR] [--tests REGEX] [--exclude REGEX] [--jobs N] [--target T ...]

FAULTS.json holds a list of faults, each {"name": ..., "file": ..., "find":
..., "replace": ...}: `find` must occur exactly once in `file` (a path from
the repository's top), and is replaced by `replace`. For each fault the
file is changed, the build folder rebuilt, and CTest run (only the tests
matching --tests, when given); the fault is caught when the build or a test
fails. --exclude leaves out the tests matching it (long end-to-end or
packaging runs, where the faults lie elsewhere). The file is put back after each fault, whatever happens, and the
tree is rebuilt as it was at the end. Prints one line per fault and the
rate caught; exits 1 when a fault could not be planted.
"""
import argparse
import json
import pathlib
import subprocess
import sys

TOP = pathlib.Path(__file__).resolve().parent.parent


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("faults")
    parser.add_argument("--build", default=str(TOP / "build"))
    parser.add_argument("--tests", default="")
    parser.add_argument("--exclude", default="")
    parser.add_argument("--jobs", default="2")
    parser.add_argument("--target", action="append", default=[],
                        help="build only this target (repeatable); the tests chosen must need no other")
    args = parser.parse_args()
    faults = json.loads(pathlib.Path(args.faults).read_text(encoding="utf-8"))
    build = ["cmake", "--build", args.build, "-j", args.jobs]
    for target in args.target:
        build += ["--target", target]
    ctest = ["ctest", "--test-dir", args.build, "-j", args.jobs, "--stop-on-failure"]
    if args.tests:
        ctest += ["-R", args.tests]
    if args.exclude:
        ctest += ["-E", args.exclude]
    caught = 0
    unplanted = []
    for fault in faults:
        path = TOP / fault["file"]
        original = path.read_text(encoding="utf-8")
        if original.count(fault["find"]) != 1:
            unplanted.append(fault["name"])
            print(f"NOT PLANTED  {fault['name']}: the text occurs {original.count(fault['find'])} times in {fault['file']}")
            continue
        try:
            path.write_text(original.replace(fault["find"], fault["replace"]), encoding="utf-8")
            if run(build, TOP) != 0:
                verdict = "caught (build)"
            elif run(ctest, TOP) != 0:
                verdict = "caught"
            else:
                verdict = "MISSED"
        finally:
            path.write_text(original, encoding="utf-8")
        caught += verdict.startswith("caught")
        print(f"{verdict:<14} {fault['name']}", flush=True)
    run(build, TOP)
    planted = len(faults) - len(unplanted)
    print(f"{caught} of {planted} planted faults caught" + (f" ({100 * caught // planted}%)" if planted else ""))
    return 1 if unplanted else 0


if __name__ == "__main__":
    sys.exit(main())
