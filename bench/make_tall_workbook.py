#!/usr/bin/env python3
"""A sheet as tall as the .xlsx grid allows, for the streaming writer.

Usage:  python3 make_tall_workbook.py OUT.xlsx [ROWS] [--xlsxwriter]

Writes one sheet of ROWS rows (default 1,048,576: header + 1,048,575) x 20
columns: integers, decimals with a "0.00" format, dates, booleans and two
short text columns (shared strings, a few with a comma, a quote or accents).

By default the package is written directly, with cells that carry no "r"
attribute (each takes the next column, as the format allows), so that the
sheet part stays under the reader's 512 MB bound on one part (about 420 MB).
--xlsxwriter writes it with XlsxWriter in constant-memory mode instead, as
an application would (r on every cell, text inline): that part is about
870 MB, which the reader refuses. Fixed seed: two runs give the same file.
"""
import datetime as dt
import random
import sys
import zipfile

SEED = 20261207
COLUMNS = 20
WORDS = ["alpha", "beta", "gamma", "delta", "caf\u00e9", "a,b", 'say "hi"', "omega"]

CONTENT_TYPES = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
    '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
    '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
    '<Default Extension="xml" ContentType="application/xml"/>'
    '<Override PartName="/xl/workbook.xml" ContentType="application/'
    'vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
    '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/'
    'vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
    '<Override PartName="/xl/styles.xml" ContentType="application/'
    'vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
    '<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
    'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
    '</Types>')
ROOT_RELS = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
    '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
    'relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>')
WORKBOOK = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
    '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
    'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
    '<sheets><sheet name="Tall" sheetId="1" r:id="rId1"/></sheets></workbook>')
WORKBOOK_RELS = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
    '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
    'relationships/worksheet" Target="worksheets/sheet1.xml"/>'
    '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
    'relationships/styles" Target="styles.xml"/>'
    '<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
    'relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>')
STYLES = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
    '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
    '<numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/></numFmts>'
    '<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
    '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
    '<borders count="1"><border/></borders>'
    '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
    '<cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
    '<xf numFmtId="2" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
    '<xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
    '</cellXfs></styleSheet>')


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")


def direct(path, rows):
    rng = random.Random(SEED)
    strings = WORDS + ["c%d" % c for c in range(COLUMNS)]
    sst = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><sst xmlns="http://'
           'schemas.openxmlformats.org/spreadsheetml/2006/main" count="%d" uniqueCount="%d">'
           % (len(strings), len(strings))
           + "".join("<si><t>%s</t></si>" % escape(s) for s in strings) + "</sst>")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        for name, data in (("[Content_Types].xml", CONTENT_TYPES), ("_rels/.rels", ROOT_RELS),
                           ("xl/workbook.xml", WORKBOOK),
                           ("xl/_rels/workbook.xml.rels", WORKBOOK_RELS),
                           ("xl/styles.xml", STYLES), ("xl/sharedStrings.xml", sst)):
            z.writestr(name, data)
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as f:
            f.write(('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><worksheet xmlns="'
                     'http://schemas.openxmlformats.org/spreadsheetml/2006/main"><dimension '
                     'ref="A1:T%d"/><sheetData>' % rows).encode())
            head = "".join('<c t="s"><v>%d</v></c>' % (len(WORDS) + c) for c in range(COLUMNS))
            f.write(('<row r="1">%s</row>' % head).encode())
            out = []
            for r in range(1, rows):
                cells = ['<c><v>%d</v></c>' % r,
                         '<c t="s"><v>%d</v></c>' % (r % len(WORDS)),
                         '<c s="2"><v>%d</v></c>' % (36526 + r % 9000),
                         '<c t="b"><v>%d</v></c>' % (r % 3 == 0),
                         '<c t="s"><v>%d</v></c>' % ((r * 7) % len(WORDS))]
                for c in range(5, COLUMNS):
                    if c % 2:
                        cells.append('<c><v>%d</v></c>' % rng.randint(-100000, 100000))
                    else:
                        cells.append('<c s="1"><v>%.3f</v></c>' % (rng.random() * 1000))
                out.append('<row r="%d">%s</row>' % (r + 1, "".join(cells)))
                if len(out) == 10000:
                    f.write("".join(out).encode())
                    out = []
            f.write(("".join(out) + "</sheetData></worksheet>").encode())


def with_xlsxwriter(path, rows):
    import xlsxwriter
    rng = random.Random(SEED)
    wb = xlsxwriter.Workbook(path, {"constant_memory": True, "strings_to_numbers": False})
    wb.set_properties({"created": dt.datetime(2024, 1, 1)})
    ws = wb.add_worksheet("Tall")
    f2 = wb.add_format({"num_format": "0.00"})
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    ws.write_row(0, 0, ["c%d" % c for c in range(COLUMNS)])
    base = dt.datetime(2000, 1, 1)
    for r in range(1, rows):
        ws.write_number(r, 0, r)
        ws.write_string(r, 1, WORDS[r % len(WORDS)])
        ws.write_datetime(r, 2, base + dt.timedelta(days=r % 9000), date)
        ws.write_boolean(r, 3, r % 3 == 0)
        ws.write_string(r, 4, WORDS[(r * 7) % len(WORDS)])
        for c in range(5, COLUMNS):
            if c % 2:
                ws.write_number(r, c, rng.randint(-100000, 100000))
            else:
                ws.write_number(r, c, rng.random() * 1000, f2)
    wb.close()


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if not args:
        sys.exit(__doc__)
    rows = int(args[1]) if len(args) > 1 else 1048576
    (with_xlsxwriter if "--xlsxwriter" in sys.argv else direct)(args[0], rows)


if __name__ == "__main__":
    main()
