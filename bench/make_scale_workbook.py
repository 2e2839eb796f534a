#!/usr/bin/env python3
"""A worksheet as large as a worksheet can be, for the scale benchmark.

Usage:  python3 make_scale_workbook.py OUT.xlsx [ROWS]

Writes one sheet of ROWS rows (default 1,048,576, every row a sheet can
hold) x 20 columns with XlsxWriter in constant_memory mode, so the script
itself stays small: integers, 2-decimal numbers, dates, short strings from a
pool (shared strings), booleans and a few blanks, the mix of big.xlsx.
Fixed seed and document times: two runs give the same bytes. Beside OUT it
writes OUT.json with the row and cell counts and the size of the sheet XML.
Needs python3-xlsxwriter (Debian); takes a few minutes.
"""
import datetime as dt
import json
import random
import sys
import zipfile

import xlsxwriter

SEED = 20261207
POOL = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf",
        "Zürich", "北京", "a,b", "say \"hi\"", " lead space"]
COLS = 20


def main():
    out = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1048576
    rng = random.Random(SEED)
    wb = xlsxwriter.Workbook(out, {"constant_memory": True})
    wb.set_properties({"created": dt.datetime(2024, 1, 1)})
    date_fmt = wb.add_format({"num_format": "yyyy-mm-dd"})
    money = wb.add_format({"num_format": "0.00"})
    ws = wb.add_worksheet("scale")
    ws.write_row(0, 0, ["c%d" % c for c in range(COLS)])
    day0 = dt.date(2000, 1, 1)
    for r in range(1, rows):
        x = rng.getrandbits(32)
        ws.write_number(r, 0, r)
        for c in range(1, COLS):
            kind = c % 5
            v = (x >> c) & 0xFFFF
            if kind == 0:
                ws.write_number(r, c, v)
            elif kind == 1:
                ws.write_number(r, c, v / 100, money)
            elif kind == 2:
                ws.write_datetime(r, c, day0 + dt.timedelta(days=v % 9000), date_fmt)
            elif kind == 3:
                if v % 11:
                    ws.write_string(r, c, POOL[v % len(POOL)])
            else:
                ws.write_boolean(r, c, bool(v & 1))
    wb.close()
    with zipfile.ZipFile(out) as z:
        xml = sum(i.file_size for i in z.infolist()
                  if i.filename.startswith("xl/worksheets/") or i.filename == "xl/sharedStrings.xml")
    info = {"rows": rows, "columns": COLS, "sheets": 1, "xml_bytes": xml}
    with open(out + ".json", "w") as fh:
        json.dump(info, fh)
    print("wrote %s: %d rows x %d columns, %d bytes of sheet XML" % (out, rows, COLS, xml))


if __name__ == "__main__":
    main()
