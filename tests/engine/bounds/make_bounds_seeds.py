#!/usr/bin/env python3
# Writes the bounds_* fuzz seeds: the crafted workbooks of tst_bounds (and of
# bench/bounds.sh) in the same shapes, small enough to fuzz (under the 64 KB
# that fuzz/run.sh lets an input grow to). Run from the source root:
#   tests/engine/bounds/make_bounds_seeds.py fuzz/seeds
import os
import struct
import sys
import zipfile

NS = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
T = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'


def xlsx(path, sheet, sst=None, code=None):
    rels = (f'<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            f'<Relationship Id="rId1" Type="{T}worksheet" Target="worksheets/sheet1.xml"/>'
            f'<Relationship Id="rId2" Type="{T}styles" Target="styles.xml"/>')
    fmts = f'<numFmts count="1"><numFmt numFmtId="164" formatCode="{code}"/></numFmts>' if code else ''
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml',
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
        z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/'
                   f'relationships"><Relationship Id="rId1" Type="{T}officeDocument" '
                   'Target="xl/workbook.xml"/></Relationships>')
        z.writestr('xl/workbook.xml', f'<workbook xmlns="{NS}" xmlns:r="{T[:-1]}"><sheets>'
                   '<sheet name="Crafted" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr('xl/styles.xml', f'<styleSheet xmlns="{NS}">{fmts}<cellXfs count="2"><xf numFmtId="0"/>'
                   f'<xf numFmtId="{164 if code else 0}"/></cellXfs></styleSheet>')
        if sst:
            rels += f'<Relationship Id="rId3" Type="{T}sharedStrings" Target="sharedStrings.xml"/>'
            z.writestr('xl/sharedStrings.xml', sst)
        z.writestr('xl/_rels/workbook.xml.rels', rels + '</Relationships>')
        z.writestr('xl/worksheets/sheet1.xml', f'<worksheet xmlns="{NS}"><sheetData>{sheet}</worksheet>')


def rec(rid, body=b''):
    return struct.pack('<HH', rid, len(body)) + body


def bof(kind):
    return rec(0x0809, struct.pack('<HHHHII', 0x0600, kind, 0x0DBB, 0x07CC, 0, 0x0206))


def number(row, col, value):
    return rec(0x0203, struct.pack('<HHHd', row, col, 15, value))


def stream(sheet, sst=b'', open_ended=False):
    g = bof(0x0005) + rec(0x0042, struct.pack('<H', 1200))
    at = len(g) + 4
    g += rec(0x0085, struct.pack('<IBBBB', 0, 0, 0, 7, 0) + b'Crafted') + sst + rec(0x000A)
    g = g[:at] + struct.pack('<I', len(g)) + g[at + 4:]
    return g + bof(0x0010) + sheet + (b'' if open_ended else rec(0x000A))


def cfb(path, data):
    """A version 4 compound file (4,096-byte sectors) holding 'Workbook'."""
    size = max(len(data), 4096)
    data += b'\0' * (-len(data) % 4096)
    n = len(data) // 4096
    fat = [0xFFFFFFFE] + [i + 2 if i + 1 < n else 0xFFFFFFFE for i in range(n)] + [0xFFFFFFFD]
    fat += [0xFFFFFFFF] * (1024 - len(fat))
    hdr = bytearray(4096)
    hdr[0:8] = bytes([0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1])
    struct.pack_into('<HHHHH', hdr, 24, 0x3E, 4, 0xFFFE, 12, 6)
    struct.pack_into('<IIIIIIIII', hdr, 40, 0, 1, 0, 0, 4096, 0xFFFFFFFE, 0, 0xFFFFFFFE, 0)
    struct.pack_into('<I', hdr, 76, 1 + n)
    for i in range(1, 109):
        struct.pack_into('<I', hdr, 76 + 4 * i, 0xFFFFFFFF)

    def entry(name, kind, start, sz, child=0xFFFFFFFF):
        e = bytearray(128)
        raw = name.encode('utf-16-le') + b'\0\0'
        e[0:len(raw)] = raw
        struct.pack_into('<HBBIII', e, 64, len(raw), kind, 1, 0xFFFFFFFF, 0xFFFFFFFF, child)
        struct.pack_into('<IQ', e, 116, start, sz)
        return bytes(e)
    directory = entry('Root Entry', 5, 0xFFFFFFFE, 0, 1) + entry('Workbook', 2, 1, size)
    with open(path, 'wb') as f:
        f.write(bytes(hdr) + directory + b'\0' * (4096 - len(directory)) + data
                + struct.pack('<1024I', *fat))


def main(out):
    x, b = os.path.join(out, 'xlsx'), os.path.join(out, 'xls')
    xlsx(f'{x}/bounds_text_repeated_by_format.xlsx',
         '<row>' + '<c s="1" t="s"><v>0</v></c>' * 200 + '</row></sheetData>',
         f'<sst xmlns="{NS}"><si><t>{"x" * 5000}</t></si></sst>', '@' * 254)
    xlsx(f'{x}/bounds_styled_empty_cells.xlsx', ('<row>' + '<c s="1"/>' * 1000 + '</row>') * 10 + '</sheetData>')
    xlsx(f'{x}/bounds_merged_areas.xlsx', '<row><c><v>1</v></c></row></sheetData><mergeCells>'
         + '<mergeCell ref="C3:D4"/>' * 2000 + '</mergeCells>')
    xlsx(f'{x}/bounds_formula_strings.xlsx', '<row>' + '<c t="str"><v>x</v></c>' * 2000 + '</row></sheetData>')
    xlsx(f'{x}/bounds_huge_cell.xlsx', '<row><c t="inlineStr"><is>' + ('<r><t>' + 'x' * 4096 + '</t></r>') * 16
         + '</is></c></row></sheetData>')
    xlsx(f'{x}/bounds_far_corners.xlsx', '<row r="1"><c r="A1"><v>1</v></c></row>'
         '<row r="1048576"><c r="XFD1048576"><v>2</v></c></row></sheetData>')
    xlsx(f'{x}/bounds_merge_over_grid.xlsx', '<row r="1"><c r="A1"><v>1</v></c></row></sheetData>'
         '<mergeCells count="1"><mergeCell ref="A1:XFD1048576"/></mergeCells>')

    body = b'\0\0\0' * 2000
    sst = rec(0x00FC, struct.pack('<II', 2000, 2000) + body[:3000]) + rec(0x003C, body[3000:])
    cfb(f'{b}/bounds_empty_shared_strings.xls', stream(number(0, 0, 1), sst))
    mulblank = b''.join(rec(0x00BE, struct.pack('<HH', r % 20, 0) + struct.pack('<H', 15) * 256
                            + struct.pack('<H', 255)) for r in range(40))
    cfb(f'{b}/bounds_mulblank_flood.xls', stream(mulblank))
    cfb(f'{b}/bounds_sheet_running_on.xls', stream(number(0, 0, 1), open_ended=True) + b'\0' * 8192)
    cfb(f'{b}/bounds_far_corners.xls', stream(number(0, 0, 1) + number(65535, 255, 2)))


if __name__ == '__main__':
    main(sys.argv[1])
