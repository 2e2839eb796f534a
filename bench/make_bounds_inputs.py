#!/usr/bin/env python3
"""The crafted workbooks of bench/bounds.sh, at full size:
    bench/make_bounds_inputs.py OUTDIR [NAME...]
Each stays inside every container and format rule (parts under 512 MB,
compression under 400:1) while asking for gigabytes of memory, time or
output. Large parts are deflated piece by piece; the 2 GB workbook stream
is a hole in a sparse file. NAME "deepN" makes a chain of N folders."""
import os, random, struct, sys, zlib

RATIO = 390  # the reader refuses parts above 400:1 (for parts > 1 MB)
NS = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
T = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'


def deflate_part(chunks, pad_ratio=True):
    """chunks: iterable of bytes (the XML); a filler comment before the last
    chunk keeps the ratio under the reader's cap. Returns (raw_size, crc, data)."""
    co = zlib.compressobj(9, zlib.DEFLATED, -15)
    out, size, crc = [], 0, 0
    chunks = list(chunks) if not hasattr(chunks, '__next__') else chunks
    last = None
    for c in chunks:
        if last is not None:
            out.append(co.compress(last)); size += len(last); crc = zlib.crc32(last, crc)
        last = c
    comp = sum(len(x) for x in out)
    if pad_ratio and size + len(last) > (1 << 20):
        rng = random.Random(1)
        alpha = b'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'
        filler = bytearray()
        total = size + len(last)
        while (total + len(filler)) / max(comp + len(filler) * 0.74, 1) > RATIO:
            filler += bytes(rng.choice(alpha) for _ in range(4096))
        if filler:
            f = b'<!--' + bytes(filler) + b'-->'
            out.append(co.compress(f)); size += len(f); crc = zlib.crc32(f, crc)
    out.append(co.compress(last)); size += len(last); crc = zlib.crc32(last, crc)
    out.append(co.flush())
    return size, crc & 0xFFFFFFFF, b''.join(out)


def write_zip(path, parts):
    """parts: list of (name, chunks)."""
    with open(path, 'wb') as f:
        central = b''
        for name, chunks in parts:
            if isinstance(chunks, (bytes, str)):
                chunks = [chunks.encode() if isinstance(chunks, str) else chunks]
            size, crc, data = deflate_part(chunks)
            nb = name.encode()
            off = f.tell()
            f.write(struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 8, 0, 0, crc, len(data), size, len(nb), 0) + nb)
            f.write(data)
            central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, 8, 0, 0, crc, len(data), size,
                                   len(nb), 0, 0, 0, 0, 0, off) + nb
        cd = f.tell()
        f.write(central)
        f.write(struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(parts), len(parts), len(central), cd, 0))


def xlsx(path, sheet_chunks, sst=None, numfmt=None):
    rels = ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            f'<Relationship Id="rId1" Type="{T}worksheet" Target="worksheets/sheet1.xml"/>'
            f'<Relationship Id="rId2" Type="{T}styles" Target="styles.xml"/>')
    parts = [('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>'),
             ('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
              f'<Relationship Id="rId1" Type="{T}officeDocument" Target="xl/workbook.xml"/></Relationships>'),
             ('xl/workbook.xml', f'<workbook xmlns="{NS}" xmlns:r="{T[:-1]}"><sheets>'
              '<sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>')]
    fmts = f'<numFmts count="1"><numFmt numFmtId="164" formatCode="{numfmt}"/></numFmts>' if numfmt else ''
    parts.append(('xl/styles.xml', f'<styleSheet xmlns="{NS}">{fmts}<cellXfs count="2"><xf numFmtId="0"/>'
                  f'<xf numFmtId="{164 if numfmt else 0}"/></cellXfs></styleSheet>'))
    if sst is not None:
        rels += f'<Relationship Id="rId3" Type="{T}sharedStrings" Target="sharedStrings.xml"/>'
        parts.append(('xl/sharedStrings.xml', sst))
    parts.append(('xl/_rels/workbook.xml.rels', rels + '</Relationships>'))
    parts.append(('xl/worksheets/sheet1.xml', sheet_chunks))
    write_zip(path, parts)


def sheet(body_chunks, after=b''):
    yield f'<worksheet xmlns="{NS}"><sheetData>'.encode()
    yield from body_chunks
    yield b'</sheetData>' + after + b'</worksheet>'


def repeat(unit, count, per=None):
    unit = unit.encode() if isinstance(unit, str) else unit
    per = per or max(1, (1 << 20) // len(unit))
    block = unit * per
    while count >= per:
        yield block
        count -= per
    if count:
        yield unit * count


# ---- .xlsx cases -----------------------------------------------------------

def at_format(path, ats=5000, chars=5000, cells=200, rows=1):
    sst = f'<sst xmlns="{NS}"><si><t>{"x" * chars}</t></si></sst>'
    row = '<row>' + '<c s="1" t="s"><v>0</v></c>' * cells + '</row>'
    xlsx(path, sheet(iter([(row * rows).encode()])), sst, numfmt='@' * ats)


def styled_blanks(path, count=53_000_000):
    def rows():
        full, rest = divmod(count, 16384)
        row = b'<row>' + b'<c s="1"/>' * 16384 + b'</row>'
        for _ in range(full):
            yield row
        if rest:
            yield b'<row>' + b'<c s="1"/>' * rest + b'</row>'
    xlsx(path, sheet(rows()))


def merges_chunks(count):
    yield f'<worksheet xmlns="{NS}"><sheetData><row><c><v>1</v></c></row></sheetData><mergeCells>'.encode()
    yield from repeat('<mergeCell ref="C3:D4"/>', count)
    yield b'</mergeCells></worksheet>'


def inline_str(path, count=22_000_000):
    def rows():
        per_row = 16384
        full, rest = divmod(count, per_row)
        row = b'<row>' + b'<c t="str"><v>x</v></c>' * per_row + b'</row>'
        for _ in range(full):
            yield row
        if rest:
            yield b'<row>' + b'<c t="str"><v>x</v></c>' * rest + b'</row>'
    xlsx(path, sheet(rows()))


def big_cell(path, mb=500):
    def body():
        yield b'<row><c t="inlineStr"><is>'
        run = b'<r><t>' + b'x' * (1 << 20) + b'</t></r>'
        for _ in range(mb):
            yield run
        yield b'</is></c></row>'
    xlsx(path, sheet(body()))


def corners(path):
    xlsx(path, sheet(iter([b'<row r="1"><c r="A1"><v>1</v></c></row>'
                           b'<row r="1048576"><c r="XFD1048576"><v>2</v></c></row>'])))


def merge_all(path):
    xlsx(path, sheet(iter([b'<row r="1"><c r="A1"><v>1</v></c></row>']),
                     after=b'<mergeCells count="1"><mergeCell ref="A1:XFD1048576"/></mergeCells>'))


# ---- .xls cases --------------------------------------------------------------

def rec(rid, data=b''):
    return struct.pack('<HH', rid, len(data)) + data


def bof(dt):
    return rec(0x0809, struct.pack('<HHHHII', 0x0600, dt, 0x0DBB, 0x07CC, 0, 0x0206))


def globals_stream(sst=b''):
    """Globals with one BOUNDSHEET, and where its offset goes."""
    g = bof(0x0005) + rec(0x0042, struct.pack('<H', 1200))
    bs_at = len(g) + 4
    g += rec(0x0085, struct.pack('<IBB', 0, 0, 0) + bytes([6, 0]) + b'Sheet1')
    g += sst + rec(0x000A)
    return g, bs_at


def workbook_stream(sheet_records, sst=b''):
    g, bs_at = globals_stream(sst)
    off = len(g)
    g = g[:bs_at] + struct.pack('<I', off) + g[bs_at + 4:]
    return g + bof(0x0010) + sheet_records + rec(0x000A)


def sst_records(count):
    """SST of `count` empty strings (3 bytes each), split into CONTINUE records."""
    body = b'\x00\x00\x00' * count
    first = struct.pack('<II', count, count)
    out = bytearray()
    room = 8224 - len(first)
    n = room - room % 3
    out += rec(0x00FC, first + body[:n])
    pos = n
    step = 8223 - 8223 % 3
    while pos < len(body):
        out += rec(0x003C, body[pos:pos + step])
        pos += step
    return bytes(out)


def cfb(path, stream, stream_size=None, sparse=False):
    """Compound file v4 (4096-byte sectors) holding one 'Workbook' stream.
    stream_size > len(stream): the rest of the stream is zeros (a sparse file)."""
    SS = 4096
    size = stream_size or len(stream)
    if size < 4096:
        stream = stream + b'\0' * (4096 - size)
        size = 4096
    n_stream = (size + SS - 1) // SS
    per_fat = SS // 4
    # layout: [dir][stream sectors][fat sectors][difat sectors]
    n_fat = n_difat = 0
    while True:
        total = 1 + n_stream + n_fat + n_difat
        need_fat = (total + per_fat - 1) // per_fat
        need_difat = max(0, (need_fat - 109 + per_fat - 2) // (per_fat - 1))
        if need_fat == n_fat and need_difat == n_difat:
            break
        n_fat, n_difat = need_fat, need_difat
    dir_sec = 0
    first_stream = 1
    first_fat = 1 + n_stream
    first_difat = first_fat + n_fat
    total = first_difat + n_difat
    fat = [0xFFFFFFFF] * (n_fat * per_fat)
    fat[dir_sec] = 0xFFFFFFFE
    for i in range(n_stream):
        fat[first_stream + i] = first_stream + i + 1 if i + 1 < n_stream else 0xFFFFFFFE
    for i in range(n_fat):
        fat[first_fat + i] = 0xFFFFFFFD
    for i in range(n_difat):
        fat[first_difat + i] = 0xFFFFFFFC
    fat_ids = list(range(first_fat, first_fat + n_fat))
    hdr = bytearray(512)
    hdr[0:8] = bytes([0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1])
    struct.pack_into('<HHHHH', hdr, 24, 0x3E, 4, 0xFFFE, 12, 6)
    struct.pack_into('<IIIIIIIII', hdr, 40, 0, n_fat, dir_sec, 0, 4096, 0xFFFFFFFE, 0,
                     first_difat if n_difat else 0xFFFFFFFE, n_difat)
    for i in range(109):
        struct.pack_into('<I', hdr, 76 + 4 * i, fat_ids[i] if i < len(fat_ids) else 0xFFFFFFFF)
    def entry(name, typ, start, sz, child=0xFFFFFFFF):
        e = bytearray(128)
        nm = name.encode('utf-16-le') + b'\0\0'
        e[0:len(nm)] = nm
        struct.pack_into('<HBB', e, 64, len(nm), typ, 1)
        struct.pack_into('<III', e, 68, 0xFFFFFFFF, 0xFFFFFFFF, child)
        struct.pack_into('<IQ', e, 116, start, sz)
        return bytes(e)
    d = entry('Root Entry', 5, 0xFFFFFFFE, 0, child=1) + entry('Workbook', 2, first_stream, size)
    d += b'\0' * (SS - len(d))
    with open(path, 'wb') as f:
        f.write(bytes(hdr) + b'\0' * (SS - 512))
        f.write(d)
        f.write(stream[:n_stream * SS])
        if len(stream) < n_stream * SS:
            if sparse:
                f.seek(SS * (1 + first_stream + n_stream))
            else:
                f.write(b'\0' * (n_stream * SS - len(stream)))
        f.write(struct.pack(f'<{len(fat)}I', *fat))
        rest = fat_ids[109:]
        for k in range(n_difat):
            chunk = rest[k * (per_fat - 1):(k + 1) * (per_fat - 1)]
            chunk += [0xFFFFFFFF] * (per_fat - 1 - len(chunk))
            nxt = first_difat + k + 1 if k + 1 < n_difat else 0xFFFFFFFE
            f.write(struct.pack(f'<{per_fat}I', *chunk, nxt))
        assert f.tell() == SS * (1 + total), (f.tell(), SS * (1 + total))


def sst_empty(path, count=20_000_000):
    cfb(path, workbook_stream(rec(0x0203, struct.pack('<HHHd', 0, 0, 15, 1.0)), sst_records(count)))


def cfb_2gb(path):
    s = workbook_stream(rec(0x0203, struct.pack('<HHHd', 0, 0, 15, 1.0)))
    cfb(path, s, stream_size=(2 << 30) + 4096, sparse=True)


def mulblank(path, rows=65536, repeat_rows=2):
    recs = bytearray()
    body = struct.pack('<HH', 0, 0) + struct.pack('<H', 15) * 256 + struct.pack('<H', 255)
    for k in range(repeat_rows):
        for r in range(rows):
            recs += rec(0x00BE, struct.pack('<H', r) + body[2:])
    cfb(path, workbook_stream(bytes(recs)))


def xls_corners(path):
    # cells at A1 and IV65536: a 16.7 M field sheet in a few hundred bytes
    cfb(path, workbook_stream(rec(0x0203, struct.pack('<HHHd', 0, 0, 15, 1.0))
                              + rec(0x0203, struct.pack('<HHHd', 65535, 255, 15, 2.0))))


def deep_tree(path, depth=4000, name='d'):
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    fds = []
    try:
        for i in range(depth):
            os.mkdir(name, dir_fd=fd)
            nfd = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            if i == depth - 1:
                with open(os.open('deep.xlsx', os.O_CREAT | os.O_WRONLY, 0o644, dir_fd=nfd), 'wb'):
                    pass
            os.close(fd)
            fd = nfd
    finally:
        os.close(fd)


def worst(path):
    """Everything just under its bound at once: 6 M empty shared strings,
    3.9 M formula strings and 4.3 M styled empty cells in one sheet."""
    sst_count = 6_000_000
    def sst():
        yield f'<sst xmlns="{NS}">'.encode()
        yield from repeat('<si><t></t></si>', sst_count)
        yield b'</sst>'
    def rows():
        yield from repeat('<row>' + '<c t="str"><v>x</v></c>' * 16384 + '</row>', 3_900_000 // 16384)
        yield from repeat('<row>' + '<c s="1"/>' * 16384 + '</row>', 4_300_000 // 16384)
    rels = ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            f'<Relationship Id="rId1" Type="{T}worksheet" Target="worksheets/sheet1.xml"/>'
            f'<Relationship Id="rId2" Type="{T}styles" Target="styles.xml"/>'
            f'<Relationship Id="rId3" Type="{T}sharedStrings" Target="sharedStrings.xml"/></Relationships>')
    write_zip(path, [
        ('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>'),
        ('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
         f'<Relationship Id="rId1" Type="{T}officeDocument" Target="xl/workbook.xml"/></Relationships>'),
        ('xl/workbook.xml', f'<workbook xmlns="{NS}" xmlns:r="{T[:-1]}"><sheets>'
         '<sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>'),
        ('xl/styles.xml', f'<styleSheet xmlns="{NS}"><cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="0"/></cellXfs></styleSheet>'),
        ('xl/_rels/workbook.xml.rels', rels),
        ('xl/sharedStrings.xml', sst()),
        ('xl/worksheets/sheet1.xml', sheet(rows())),
    ])


def merges(path, count=20_000_000):
    xlsx(path, merges_chunks(count))


def wide_tree(path, n=60):
    for a in range(n):
        for b in range(n):
            for c in range(n):
                os.makedirs(f'{path}/a{a}/b{b}/c{c}', exist_ok=True)


CASES = {
    # cell text repeated by a format: 254 "@" (the longest code accepted)
    'at_format.xlsx': lambda p: at_format(p, 254, 5000, 200, 1),
    'at_format_rows.xlsx': lambda p: at_format(p, 254, 16000, 1, 1000),
    # the issue's own: 5,000 "@" (a code the application would refuse)
    'at_format5000.xlsx': at_format,
    # 81,920 cells of 32,767 characters: 2.7 GB of CSV from 20 KB
    'output_bound.xlsx': lambda p: at_format(p, 254, 5000, 16384, 5),
    'styled_blanks.xlsx': styled_blanks,
    'merges.xlsx': merges,
    'inline_str.xlsx': inline_str,
    'big_cell.xlsx': big_cell,
    'corners.xlsx': corners,
    'merge_all.xlsx': merge_all,
    'worst.xlsx': worst,
    'sst_empty.xls': sst_empty,
    'cfb_2gb.xls': cfb_2gb,
    'mulblank.xls': mulblank,
    'xls_corners.xls': xls_corners,
}


if __name__ == '__main__':
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    names = sys.argv[2:] or list(CASES)
    for n in names:
        if n == 'wide':
            wide_tree(os.path.join(out, n))
        elif n.startswith('deep'):
            d = os.path.join(out, n)
            os.makedirs(d, exist_ok=True)
            deep_tree(d, int(n[4:] or 4000))
        else:
            CASES[n](os.path.join(out, n))
            print(n, os.path.getsize(os.path.join(out, n)))
