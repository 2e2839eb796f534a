#!/usr/bin/env python3
"""A sheet as tall as the .xlsx grid allows, for the streaming writer.

Usage:  python3 make_tall_workbook.py OUT.xlsx [ROWS]

Writes one sheet of ROWS rows (default 1,048,576: header + 1,048,575) x 20
columns with XlsxWriter in constant-memory mode (rows go to the file as they
are written; text is written inline). The columns mix what big.xlsx holds:
integers, decimals with a "0.00" format, dates, booleans and two short text
columns. Needs python3-xlsxwriter. Fixed seed: two runs give the same file.
"""
import datetime as dt
import random
import sys

import xlsxwriter

SEED = 20261207
COLUMNS = 20
WORDS = ["alpha", "beta", "gamma", "delta", "caf\u00e9", "a,b", 'say "hi"', "omega"]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    path = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1048576
    rng = random.Random(SEED)
    wb = xlsxwriter.Workbook(path, {"constant_memory": True, "strings_to_numbers": False})
    wb.set_properties({"created": dt.datetime(2024, 1, 1)})
    ws = wb.add_worksheet("Tall")
    f2 = wb.add_format({"num_format": "0.00"})
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    ws.write_row(0, 0, ["c%d" % c for c in range(COLUMNS)])
    base = dt.date(2000, 1, 1)
    for r in range(1, rows):
        ws.write_number(r, 0, r)
        ws.write_string(r, 1, WORDS[r % len(WORDS)])
        ws.write_datetime(r, 2, dt.datetime.combine(base + dt.timedelta(days=r % 9000),
                                                    dt.time()), date)
        ws.write_boolean(r, 3, r % 3 == 0)
        ws.write_string(r, 4, "r%d" % r)
        for c in range(5, COLUMNS):
            if c % 2:
                ws.write_number(r, c, rng.randint(-100000, 100000))
            else:
                ws.write_number(r, c, rng.random() * 1000, f2)
    wb.close()


if __name__ == "__main__":
    main()
