#!/usr/bin/env python3
# Writes the small seed packages of fuzz/seeds/xlsx (run: make_fuzz_seeds.py fuzz/seeds/xlsx);
# the parts_*.txt seeds (sheet, shared strings, styles, workbook XML joined by
# "\n==\n") were cut from types.xlsx and inline_prefix.xlsx.
import zipfile, sys, os
out = sys.argv[1]
CT = '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>'
RELS = '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>'
T = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
def book(name, sheets, sst=None, styles=None, pr='', method=zipfile.ZIP_DEFLATED, kinds=None):
    kinds = kinds or ['worksheet'] * len(sheets)
    with zipfile.ZipFile(os.path.join(out, name), 'w', method) as z:
        z.writestr('[Content_Types].xml', CT)
        z.writestr('_rels/.rels', RELS)
        rels = '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        wb = '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">' + pr + '<sheets>'
        for i, (s, k) in enumerate(zip(sheets, kinds), 1):
            rels += f'<Relationship Id="rId{i}" Type="{T}{k}" Target="worksheets/sheet{i}.xml"/>'
            wb += f'<sheet name="S{i}" sheetId="{i}" r:id="rId{i}"' + (' state="hidden"' if i == 2 else '') + '/>'
            z.writestr(f'xl/worksheets/sheet{i}.xml', s)
        if sst:
            rels += f'<Relationship Id="rS" Type="{T}sharedStrings" Target="sharedStrings.xml"/>'
            z.writestr('xl/sharedStrings.xml', sst)
        if styles:
            rels += f'<Relationship Id="rT" Type="{T}styles" Target="/xl/styles.xml"/>'
            z.writestr('xl/styles.xml', styles)
        z.writestr('xl/_rels/workbook.xml.rels', rels + '</Relationships>')
        z.writestr('xl/workbook.xml', wb + '</sheets></workbook>')
def sheet(data, prefix=''):
    p = prefix + ':' if prefix else ''
    ns = f' xmlns{":" + prefix if prefix else ""}="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
    return f'<?xml version="1.0"?><{p}worksheet{ns}><{p}sheetData>{data}</{p}sheetData></{p}worksheet>'
styles = ('<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><numFmts count="4">'
  '<numFmt numFmtId="164" formatCode="#,##0.00_);[Red]\\(#,##0.00\\)"/><numFmt numFmtId="165" formatCode="yyyy-mm-dd hh:mm:ss.000"/>'
  '<numFmt numFmtId="166" formatCode="[&lt;10]&quot;small&quot;;[h]:mm;@"/><numFmt numFmtId="167" formatCode="# ?/?;0.0E+00;&quot;z&quot;"/></numFmts>'
  '<cellXfs count="8"><xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="165"/><xf numFmtId="166"/><xf numFmtId="167"/>'
  '<xf numFmtId="14"/><xf numFmtId="49" quotePrefix="1"/><xf numFmtId="10"/></cellXfs></styleSheet>')
sst = ('<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>plain</t></si>'
  '<si><r><t>rich </t></r><r><t xml:space="preserve">run</t></r><rPh sb="0" eb="1"><t>ph</t></rPh></si><si><t>a_x000D_b</t></si></sst>')
rows = ''.join(f'<row r="{r}"><c r="A{r}" s="{r % 8}"><v>{r * 1.25 - 3}</v></c><c r="B{r}" t="s"><v>{r % 3}</v></c>'
               f'<c r="C{r}" t="b"><v>{r % 2}</v></c><c r="D{r}" t="e"><v>#N/A</v></c><c r="E{r}" s="2"><v>{40000 + r / 7}</v></c></row>' for r in range(1, 9))
book('types.xlsx', [sheet(rows)], sst, styles)
book('inline_prefix.xlsx', [sheet('<x:row><x:c t="inlineStr"><x:is><x:t>a&amp;b&#x4E2D;</x:t></x:is></x:c><x:c t="str"><x:f>1</x:f><x:v>s</x:v></x:c>'
     '<x:c t="d"><x:v>2021-01-01T10:00:00</x:v></x:c></x:row><x:row><x:c s="1"/><x:c><x:v>1E+300</x:v></x:c></x:row>', 'x')],
     pr='<workbookPr date1904="1"/>')
book('stored_multi.xlsx', [sheet('<row r="3"><c r="XFD3"><v>1</v></c></row>'), sheet(''), '<chartsheet/>'], method=zipfile.ZIP_STORED,
     kinds=['worksheet', 'worksheet', 'chartsheet'])
book('nostyles.xlsx', [sheet('<row r="1"><c r="A1"><v>0.1</v></c><c r="B1"><v>-0</v></c><c r="C1"><v>123456789012</v></c></row>')])
