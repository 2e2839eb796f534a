#!/usr/bin/env python3
"""Many small workbooks in nested folders, for the batch benchmarks.

Usage:  python3 make_many_workbooks.py OUTDIR COUNT [--xls-every K]

Writes COUNT workbooks under OUTDIR, at most 100 to a folder, in folders two
levels deep (OUTDIR/d03/e07/book000312.xlsx ...). Each holds one sheet of a
header and 20 rows x 8 columns (numbers, short texts, a date) and every
fifth a second, smaller sheet. The .xlsx files are zip files written
directly (no library needed, a few thousand a second); with --xls-every K
every K-th workbook is a BIFF8 .xls instead, made with xlwt (Debian:
python3-xlwt). Everything comes from fixed seeds: two runs give the same
files.
"""
import argparse
import os
import random
import zipfile

NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
WORDS = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "北京",
         "Zürich", "a,b", "say \"hi\""]
FIXED = (2024, 1, 1, 0, 0, 0)


def rows_of(rng, rows, cols):
    out = [["col%d" % c for c in range(cols)]]
    for r in range(rows):
        row = []
        for c in range(cols):
            kind = c % 4
            if kind == 0:
                row.append(r + 1)
            elif kind == 1:
                row.append(round(rng.uniform(-1000, 1000), 2))
            elif kind == 2:
                row.append(rng.choice(WORDS))
            else:
                row.append(rng.randint(0, 10 ** 6))
        out.append(row)
    return out


def esc(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;")
            .replace(">", "&gt;").replace('"', "&quot;"))


def col_name(c):
    return chr(ord("A") + c)


def sheet_xml(rows):
    parts = ['<worksheet xmlns="%s"><sheetData>' % NS]
    for r, row in enumerate(rows, 1):
        parts.append('<row r="%d">' % r)
        for c, value in enumerate(row):
            ref = "%s%d" % (col_name(c), r)
            if isinstance(value, str):
                parts.append('<c r="%s" t="inlineStr"><is><t>%s</t></is></c>'
                             % (ref, esc(value)))
            else:
                parts.append('<c r="%s"><v>%r</v></c>' % (ref, value))
        parts.append("</row>")
    parts.append("</sheetData></worksheet>")
    return "".join(parts)


def write_xlsx(path, sheets):
    book = ['<workbook xmlns="%s" xmlns:r="%s"><sheets>' % (NS, REL)]
    rels = ['<Relationships xmlns="%s">' % PKG]
    files = [
        ("[Content_Types].xml",
         '<Types xmlns="http://schemas.openxmlformats.org/package/2006/'
         'content-types"><Override PartName="/xl/workbook.xml" ContentType='
         '"application/vnd.openxmlformats-officedocument.spreadsheetml.'
         'sheet.main+xml"/></Types>'),
        ("_rels/.rels",
         '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/'
         'officeDocument" Target="xl/workbook.xml"/></Relationships>'
         % (PKG, REL)),
    ]
    for i, (name, rows) in enumerate(sheets, 1):
        book.append('<sheet name="%s" sheetId="%d" r:id="rId%d"/>'
                    % (esc(name), i, i))
        rels.append('<Relationship Id="rId%d" Type="%s/worksheet" '
                    'Target="worksheets/sheet%d.xml"/>' % (i, REL, i))
        files.append(("xl/worksheets/sheet%d.xml" % i, sheet_xml(rows)))
    files.append(("xl/workbook.xml", "".join(book) + "</sheets></workbook>"))
    files.append(("xl/_rels/workbook.xml.rels",
                  "".join(rels) + "</Relationships>"))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in files:
            info = zipfile.ZipInfo(name, FIXED)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text.encode("utf-8"))


def write_xls(path, sheets):
    import xlwt  # only needed with --xls-every
    book = xlwt.Workbook(encoding="utf-8")
    for name, rows in sheets:
        sheet = book.add_sheet(name)
        for r, row in enumerate(rows):
            for c, value in enumerate(row):
                sheet.write(r, c, value)
    book.save(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("count", type=int)
    parser.add_argument("--xls-every", type=int, default=0)
    args = parser.parse_args()
    for i in range(args.count):
        rng = random.Random(i)
        folder = os.path.join(args.outdir, "d%02d" % (i // 1000),
                              "e%02d" % (i // 100 % 10))
        os.makedirs(folder, exist_ok=True)
        sheets = [("Data", rows_of(rng, 20, 8))]
        if i % 5 == 0:
            sheets.append(("Notes", rows_of(rng, 5, 3)))
        if args.xls_every and i % args.xls_every == args.xls_every - 1:
            write_xls(os.path.join(folder, "book%06d.xls" % i), sheets)
        else:
            write_xlsx(os.path.join(folder, "book%06d.xlsx" % i), sheets)


if __name__ == "__main__":
    main()
