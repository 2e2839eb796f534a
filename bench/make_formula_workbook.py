#!/usr/bin/env python3
"""A workbook of 100,000 formulas for the recalculation benchmark.

Usage:  python3 make_formula_workbook.py OUT.xlsx [ROWS]

Needs xlsxwriter (Debian: python3-xlsxwriter, importable by the system
python3). Like every workbook XlsxWriter writes, the formulas carry 0 as
their result and the workbook asks for a full calculation on load, so a
converter must compute all of them.

Sheet "Data": a 1,000-row lookup table (id, name, price).
Sheet "Calc": ROWS rows (default 20,000) of a number and five formulas:
  B  arithmetic        =A2*1.5+2
  C  SUM over a range  =SUM(A$2:A2) for the first 10 rows, then a 10-row window
  D  VLOOKUP           =VLOOKUP(MOD(A2,1000)+1,Data!$A$2:$C$1001,3,FALSE)
  E  IF                =IF(B2>C2/10,"above","below")
  F  text functions    =UPPER(LEFT(Data!B2,3))&"-"&TEXT(A2,"00000")
"""
import sys

import xlsxwriter


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    rows = int(argv[2]) if len(argv) > 2 else 20000
    wb = xlsxwriter.Workbook(argv[1])
    data = wb.add_worksheet("Data")
    data.write_row(0, 0, ["id", "name", "price"])
    for i in range(1000):
        data.write_row(i + 1, 0, [i + 1, "item%04d" % (i + 1), round((i * 7919) % 1000 / 10.0, 2)])
    calc = wb.add_worksheet("Calc")
    calc.write_row(0, 0, ["n", "arith", "sum", "lookup", "if", "text"])
    for i in range(rows):
        r = i + 2
        first = max(2, r - 9)
        calc.write_number(r - 1, 0, (i * 37) % 5000)
        calc.write_formula(r - 1, 1, "=A%d*1.5+2" % r)
        calc.write_formula(r - 1, 2, "=SUM(A%d:A%d)" % (first, r))
        calc.write_formula(r - 1, 3, "=VLOOKUP(MOD(A%d,1000)+1,Data!$A$2:$C$1001,3,FALSE)" % r)
        calc.write_formula(r - 1, 4, '=IF(B%d>C%d/10,"above","below")' % (r, r))
        calc.write_formula(r - 1, 5, '=UPPER(LEFT(Data!B%d,3))&"-"&TEXT(A%d,"00000")' % (r % 1000 + 2, r))
    wb.close()
    print("%s: %d formulas" % (argv[1], rows * 5))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
