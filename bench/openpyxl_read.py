#!/usr/bin/python3
"""Times openpyxl (read-only mode) reading every sheet of a workbook: the
reference the workbook reader's speed is measured against.

    openpyxl_read.py WORKBOOK [REPEATS]
"""
import sys
import time

import openpyxl


def read_all(path):
    wb = openpyxl.load_workbook(path, read_only=True, data_only=True)
    cells = 0
    for ws in wb.worksheets:
        for row in ws.iter_rows(values_only=True):
            cells += len(row)
    wb.close()
    return cells


def main():
    path = sys.argv[1]
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    best = None
    for _ in range(repeats):
        t = time.perf_counter()
        cells = read_all(path)
        dt = time.perf_counter() - t
        best = dt if best is None else min(best, dt)
    print("openpyxl read-only: %.1f ms (best of %d), %d cells" % (best * 1000, repeats, cells))


if __name__ == "__main__":
    main()
