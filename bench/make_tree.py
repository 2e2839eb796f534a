#!/usr/bin/env python3
"""A folder tree of small workbooks, for timing a whole-tree conversion.

Usage:  python3 make_tree.py OUTDIR [COUNT]

Writes COUNT workbooks (default 2,000) into nested folders under OUTDIR:
two in three are .xlsx (XlsxWriter), one in three .xls (xlwt), each with two
sheets of 20-120 rows x 8 columns (numbers, dates, strings, booleans), in
folders three levels deep with 5-15 files each. Fixed seed and document
times: two runs give the same files. Writes OUTDIR.json with the file,
sheet and row counts. Needs python3-xlsxwriter and python3-xlwt (Debian).
"""
import datetime as dt
import json
import os
import random
import sys

import xlsxwriter
import xlwt

SEED = 20261208
WORDS = ["north", "south", "east", "west", "Zürich", "北京", "a,b", "q\"uote",
         "lorem", "ipsum"]
COLS = 8


def cell(rng, r, c):
    kind = c % 4
    if c == 0:
        return r
    if kind == 1:
        return round(rng.uniform(-1000, 1000), 2)
    if kind == 2:
        return dt.date(2010, 1, 1) + dt.timedelta(days=rng.randrange(5000))
    if kind == 3:
        return rng.choice(WORDS)
    return rng.random() < 0.5


def write_xlsx(path, sheets):
    wb = xlsxwriter.Workbook(path)
    wb.set_properties({"created": dt.datetime(2024, 1, 1)})
    date_fmt = wb.add_format({"num_format": "yyyy-mm-dd"})
    for name, rows in sheets:
        ws = wb.add_worksheet(name)
        for r, row in enumerate(rows):
            for c, v in enumerate(row):
                if isinstance(v, dt.date):
                    ws.write_datetime(r, c, dt.datetime(v.year, v.month, v.day), date_fmt)
                else:
                    ws.write(r, c, v)
    wb.close()


def write_xls(path, sheets):
    wb = xlwt.Workbook(encoding="utf-8")
    date_style = xlwt.easyxf(num_format_str="yyyy-mm-dd")
    for name, rows in sheets:
        ws = wb.add_sheet(name)
        for r, row in enumerate(rows):
            for c, v in enumerate(row):
                if isinstance(v, dt.date):
                    ws.write(r, c, v, date_style)
                else:
                    ws.write(r, c, v)
    wb.save(path)


def main():
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    rng = random.Random(SEED)
    made = rows_total = 0
    folder, left = None, 0
    while made < count:
        if left == 0:
            folder = os.path.join(out, "d%02d" % rng.randrange(20), "e%02d" % rng.randrange(10),
                                  "f%04d" % made)
            os.makedirs(folder, exist_ok=True)
            left = rng.randrange(5, 16)
        sheets = []
        for s in range(2):
            n = rng.randrange(20, 121)
            rows = [["c%d" % c for c in range(COLS)]]
            rows += [[cell(rng, r, c) for c in range(COLS)] for r in range(1, n)]
            sheets.append(("Sheet%d" % (s + 1), rows))
            rows_total += len(rows)
        path = os.path.join(folder, "book%04d" % made)
        if made % 3 == 2:
            write_xls(path + ".xls", sheets)
        else:
            write_xlsx(path + ".xlsx", sheets)
        made += 1
        left -= 1
    info = {"count": made, "sheets_each": 2, "rows": rows_total}
    with open(out.rstrip("/") + ".json", "w") as fh:
        json.dump(info, fh)
    print("wrote %d workbooks (%d rows) under %s" % (made, rows_total, out))


if __name__ == "__main__":
    main()
