#include "xlsx/xlsxreader.h"

#include "core/sheetbudget.h"
#include "formula/formulalimits.h"
#include "formula/workbookcalc.h"
#include "io/limits.h"
#include "io/xmlreader.h"
#include "io/zip.h"
#include "xlsx/xlsxsheetparser.h"

#include <charconv>
#include <functional>
#include <map>

namespace sd {

namespace {

// Relationship types are matched by their last segment, which is the same
// in the Transitional (schemas.openxmlformats.org) and Strict
// (purl.oclc.org) namespaces.
bool typeIs(std::string_view type, std::string_view last)
{
    return type.size() > last.size() && type.substr(type.size() - last.size()) == last
        && type[type.size() - last.size() - 1] == '/';
}

std::string attrText(std::string_view raw)
{
    std::string out;
    if (raw.find('&') == std::string_view::npos)
        out.assign(raw.data(), raw.size());
    else if (!XmlReader::decode(raw, out))
        out.assign(raw.data(), raw.size());
    return out;
}

uint32_t attrUint(std::string_view raw, uint32_t fallback = 0)
{
    uint64_t v = 0;
    auto res = std::from_chars(raw.data(), raw.data() + raw.size(), v);
    if (res.ec != std::errc() || raw.empty())
        return fallback;
    return uint32_t(std::min<uint64_t>(v, UINT32_MAX));
}

bool attrBool(std::string_view raw)
{
    return raw == "1" || raw == "true" || raw == "on";
}

// Cuts a sheet name to kMaxSheetNameBytes, at a character boundary.
void cutSheetName(std::string &name)
{
    if (name.size() <= kMaxSheetNameBytes)
        return;
    size_t cut = kMaxSheetNameBytes;
    while (cut > 0 && (uint8_t(name[cut]) & 0xC0) == 0x80)
        --cut;
    name.resize(cut);
}

std::string dirOf(const std::string &part)
{
    const size_t slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// Resolves a relationship target against the folder of its source part:
// "worksheets/sheet1.xml" from xl/ is xl/worksheets/sheet1.xml, an absolute
// "/xl/styles.xml" is taken from the package root, "." and ".." segments
// are folded.
std::string resolveTarget(const std::string &baseDir, std::string target)
{
    for (char &c : target) {
        if (c == '\\')
            c = '/';
    }
    std::string path = (!target.empty() && target[0] == '/') ? target.substr(1) : baseDir + target;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string seg = path.substr(start, slash - start);
        if (seg == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(seg);
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string &p : parts) {
        if (!out.empty())
            out += '/';
        out += p;
    }
    return out;
}

std::string percentDecoded(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0'
                : c >= 'a' && c <= 'f'  ? c - 'a' + 10
                : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                        : -1;
        };
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += char(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct Relationship
{
    std::string type;
    std::string target; // resolved part name
};

class XlsxPackage final : public SheetLoader
{
public:
    ZipArchive zip;
    std::vector<std::string> sheetParts; // parallel to Workbook::sheets; "" when missing
    size_t sharedStrings = 0;
    std::vector<bool> dynamicArrays; // by cell metadata index (xl/metadata.xml)

    std::string where(const std::string &part) const { return zip.label() + ", " + part; }

    // The bytes of a part: small parts are inflated whole into whole (which
    // the source reads from), large ones stream, optionally inflated on the
    // read-ahead thread.
    std::unique_ptr<ByteSource> openPart(const ZipEntry &entry, std::string &whole, bool readAhead,
                                         Error &err)
    {
        if (entry.size <= kWholePartLimit) {
            if ((err = zip.extract(entry, whole)))
                return nullptr;
            return std::make_unique<MemorySource>(whole.data(), whole.size());
        }
        std::unique_ptr<ByteSource> source = zip.open(entry, &err);
        if (source && readAhead)
            source = std::make_unique<ReadAheadSource>(std::move(source));
        return source;
    }

    // Runs fn over the events of a part.
    Error parsePart(const ZipEntry &entry,
                    const std::function<bool(XmlReader &, XmlReader::Event)> &fn)
    {
        std::string whole;
        Error e;
        const std::unique_ptr<ByteSource> source = openPart(entry, whole, false, e);
        if (!source)
            return e;
        XmlReader xml(*source, where(entry.name), entry.size);
        for (;;) {
            const XmlReader::Event ev = xml.next();
            if (ev == XmlReader::End)
                break;
            if (!fn(xml, ev))
                break;
        }
        return xml.error();
    }

    Error readRelationships(const std::string &sourcePart,
                            std::map<std::string, Relationship> &rels,
                            std::vector<Relationship> *ordered = nullptr)
    {
        const std::string dir = dirOf(sourcePart);
        const std::string file = sourcePart.substr(dir.size());
        const ZipEntry *entry = zip.find(dir + "_rels/" + file + ".rels");
        if (!entry)
            return {};
        Error tooMany;
        const Error err = parsePart(*entry, [&](XmlReader &xml, XmlReader::Event ev) {
            if (ev == XmlReader::StartElement && xml.name() == "Relationship") {
                if (xml.attribute("TargetMode") == "External")
                    return true;
                if (rels.size() >= kMaxRelationships) {
                    tooMany = limitError(where(entry->name), kMaxRelationships,
                                         "relationships in one part");
                    return false;
                }
                Relationship rel;
                rel.type = attrText(xml.attribute("Type"));
                rel.target = resolveTarget(dir, attrText(xml.attribute("Target")));
                // Targets are URIs: "my%20sheet.xml" may name the zip entry
                // "my sheet.xml".
                if (!zip.find(rel.target) && rel.target.find('%') != std::string::npos) {
                    const std::string decoded = percentDecoded(rel.target);
                    if (zip.find(decoded))
                        rel.target = decoded;
                }
                if (ordered)
                    ordered->push_back(rel);
                rels.emplace(attrText(xml.attribute("Id")), std::move(rel));
            }
            return true;
        });
        return err ? err : tooMany;
    }

    Error loadSheet(Workbook &book, int sheetIndex, Sheet &out) override
    {
        if (sheetIndex < 0 || size_t(sheetIndex) >= sheetParts.size())
            return Error(ErrorCode::Corrupt, zip.label(), "no sheet " + std::to_string(sheetIndex));
        if (book.sheets[size_t(sheetIndex)].kind == SheetKind::Chart)
            return {}; // a chart sheet has no cells
        // A sheet without a relationship (r:id="", seen in a macro
        // workbook's very hidden sheet) has no part: it is empty.
        const std::string &part = sheetParts[size_t(sheetIndex)];
        if (part.empty())
            return {};
        const ZipEntry *entry = zip.find(part);
        if (!entry)
            return Error(ErrorCode::Corrupt, zip.label(),
                         "part of sheet \"" + book.sheets[size_t(sheetIndex)].name
                             + "\" missing: " + part);
        Error e = readSheetPart(book, *entry, out);
        if (e) {
            out.cells.clear();
            e.detail = "sheet \"" + book.sheets[size_t(sheetIndex)].name + "\": " + e.detail;
        }
        return e;
    }

    bool streams() const override { return true; }
    uint64_t sheetBytes(int sheetIndex) const override
    {
        const ZipEntry *entry = sheetIndex >= 0 && size_t(sheetIndex) < sheetParts.size()
            ? zip.find(sheetParts[size_t(sheetIndex)])
            : nullptr;
        return entry ? entry->size : UINT64_MAX;
    }
    uint64_t readingCost() const override { return zip.accounted(); }
    void refundReading(uint64_t cost) override { zip.refund(cost); }

private:
    // Commented cells belong to the used range even when empty; then the
    // sheet's own cells.
    Error readSheetPart(Workbook &book, const ZipEntry &entry, Sheet &out)
    {
        std::map<std::string, Relationship> rels;
        if (Error e = readRelationships(entry.name, rels))
            return e;
        for (const auto &r : rels) {
            const ZipEntry *comments
                = typeIs(r.second.type, "comments") ? zip.find(r.second.target) : nullptr;
            if (!comments)
                continue;
            Error e = parsePart(*comments, [&](XmlReader &xml, XmlReader::Event ev) {
                if (ev == XmlReader::StartElement && xml.name() == "comment")
                    widenToArea(xml.attribute("ref"), out);
                return true;
            });
            if (e)
                return e;
        }
        std::string whole;
        Error openError;
        const std::unique_ptr<ByteSource> source = openPart(entry, whole, true, openError);
        if (!source)
            return openError;
        // No room is reserved from the part's size: that size is what the
        // file states, and the cells grow with what the part really holds.
        return parseSheetXml(*source, where(entry.name), book, sharedStrings, out, entry.size,
                             &dynamicArrays);
    }
};

const char *const kMainContentTypes[] = {
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
    "application/vnd.ms-excel.sheet.macroEnabled.main+xml",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
    "application/vnd.ms-excel.template.macroEnabled.main+xml",
};

SheetKind kindOf(const std::string &relType, const std::string &contentType)
{
    if (typeIs(relType, "worksheet"))
        return SheetKind::Worksheet;
    if (typeIs(relType, "chartsheet"))
        return SheetKind::Chart;
    if (typeIs(relType, "dialogsheet"))
        return SheetKind::Dialog;
    if (typeIs(relType, "xlMacrosheet") || typeIs(relType, "xlIntlMacrosheet"))
        return SheetKind::Macro;
    if (contentType.find("chartsheet") != std::string::npos)
        return SheetKind::Chart;
    if (contentType.find("dialogsheet") != std::string::npos)
        return SheetKind::Dialog;
    if (contentType.find("macrosheet") != std::string::npos)
        return SheetKind::Macro;
    return SheetKind::Worksheet;
}

using RelationshipMap = std::map<std::string, Relationship>;
using ContentTypes = std::map<std::string, std::string>; // normalized part name -> content type

// [Content_Types].xml: only needed to find a workbook part that the
// package relationships do not name, and to tell sheet kinds apart when a
// relationship type is unusual. Missing is tolerated.
Error readContentTypes(XlsxPackage &pkg, ContentTypes &overrides)
{
    const ZipEntry *ct = pkg.zip.find("[Content_Types].xml");
    if (!ct)
        return {};
    Error tooMany;
    const Error err = pkg.parsePart(*ct, [&](XmlReader &xml, XmlReader::Event ev) {
        if (ev != XmlReader::StartElement || xml.name() != "Override")
            return true;
        if (overrides.size() >= kMaxRelationships) {
            tooMany = limitError(pkg.where(ct->name), kMaxRelationships, "content-type overrides");
            return false;
        }
        overrides[ZipArchive::normalizedName(attrText(xml.attribute("PartName")))]
            = attrText(xml.attribute("ContentType"));
        return true;
    });
    return err ? err : tooMany;
}

// The workbook part: the package's officeDocument relationship, else the
// part whose content type says so, else the usual names.
Error findWorkbookPart(XlsxPackage &pkg, const ContentTypes &overrides, std::string &workbookPart)
{
    ZipArchive &zip = pkg.zip;
    RelationshipMap rels;
    if (Error e = pkg.readRelationships("", rels))
        return e;
    for (const auto &r : rels) {
        if (typeIs(r.second.type, "officeDocument") && zip.find(r.second.target)) {
            workbookPart = r.second.target;
            break;
        }
    }
    if (workbookPart.empty()) {
        for (const auto &o : overrides) {
            for (const char *type : kMainContentTypes) {
                if (o.second == type && zip.find(o.first))
                    workbookPart = o.first;
            }
        }
    }
    for (const char *guess : { "xl/workbook.xml", "workbook.xml" }) {
        if (workbookPart.empty() && zip.find(guess))
            workbookPart = guess;
    }
    if (workbookPart.empty())
        return Error(ErrorCode::NotAWorkbook, zip.label(), "zip package holds no workbook part");
    workbookPart = zip.find(workbookPart)->name;
    return {};
}

// workbook.xml: sheet order, names, visibility, date system, defined names
// and whether the workbook asks for a full calculation on load.
Error readWorkbook(XlsxPackage &pkg, const std::string &workbookPart, Workbook &book,
                   std::vector<std::string> &sheetRelIds)
{
    bool rootSeen = false, isWorkbook = false;
    DefinedName *name = nullptr; // the definedName whose text is being read
    uint64_t nameBytes = 0; // all names' text, counted as strings against kMaxNameBytes
    Error tooMany;
    const Error err
        = pkg.parsePart(*pkg.zip.find(workbookPart), [&](XmlReader &xml, XmlReader::Event ev) {
              if (ev == XmlReader::Text) {
                  if (name && name->data.size() < kMaxDefinedNameText)
                      return xml.appendText(name->data);
                  return true;
              }
              if (ev == XmlReader::EndElement) {
                  if (xml.name() == "definedName" && name) {
                      nameBytes += 2 * kTextObjectBytes + name->name.size() + name->data.size();
                      name = nullptr;
                      if (nameBytes > kMaxNameBytes) {
                          tooMany = limitError(pkg.where(workbookPart), kMaxNameBytes,
                                               "bytes of names in one workbook");
                          return false;
                      }
                  }
                  return true;
              }
              if (ev != XmlReader::StartElement)
                  return true;
              if (!rootSeen) {
                  rootSeen = true;
                  isWorkbook = xml.name() == "workbook";
                  return isWorkbook;
              }
              if (xml.name() == "workbookPr" && xml.depth() == 2) {
                  // Only the workbook's own: extensions hold look-alikes
                  // (x15:workbookPr) that would reset the date system.
                  book.date1904 = attrBool(xml.attribute("date1904"));
              } else if (xml.name() == "calcPr" && xml.depth() == 2) {
                  book.fullCalcOnLoad = attrBool(xml.attribute("fullCalcOnLoad"));
                  book.calcEngine = attrUint(xml.attribute("calcId"), 0);
              } else if (xml.name() == "definedName" && xml.depth() == 3
                         && book.names.size() < kMaxDefinedNames) {
                  DefinedName n;
                  n.name = attrText(xml.attribute("name"));
                  const std::string_view local = xml.attribute("localSheetId");
                  n.scope = local.empty() ? -1 : int(attrUint(local, UINT32_MAX) & 0x7FFFFFFF);
                  book.names.push_back(std::move(n));
                  name = &book.names.back();
              } else if (xml.name() == "sheet" && xml.depth() == 3) {
                  if (book.sheets.size() >= kMaxSheets) {
                      tooMany = limitError(pkg.where(workbookPart), kMaxSheets, "sheets");
                      return false;
                  }
                  SheetInfo info;
                  info.name = attrText(xml.attribute("name"));
                  cutSheetName(info.name);
                  const std::string_view state = xml.attribute("state");
                  info.state = state == "hidden" ? SheetState::Hidden
                      : state == "veryHidden"    ? SheetState::VeryHidden
                                                 : SheetState::Visible;
                  book.sheets.push_back(std::move(info));
                  sheetRelIds.push_back(attrText(xml.attribute("id")));
              }
              return true;
          });
    if (err || tooMany)
        return err ? err : tooMany;
    if (!isWorkbook)
        return Error(ErrorCode::NotAWorkbook, pkg.where(workbookPart),
                     "the main part is not a workbook");
    return {};
}

// Each sheet's part and kind, from the workbook's relationships.
void resolveSheetParts(XlsxPackage &pkg, Workbook &book,
                       const std::vector<std::string> &sheetRelIds, const RelationshipMap &wbRels,
                       const ContentTypes &overrides)
{
    for (size_t i = 0; i < book.sheets.size(); ++i) {
        auto it = wbRels.find(sheetRelIds[i]);
        std::string part = it == wbRels.end() ? std::string() : it->second.target;
        const ZipEntry *entry = part.empty() ? nullptr : pkg.zip.find(part);
        const auto ct = overrides.find(ZipArchive::normalizedName(part));
        book.sheets[i].kind = kindOf(it == wbRels.end() ? std::string() : it->second.type,
                                     ct == overrides.end() ? std::string() : ct->second);
        pkg.sheetParts.push_back(entry ? entry->name : part);
    }
}

// One table part: name, area, header and totals rows, column names. False
// when the part is not a table one can refer to.
bool readTable(XlsxPackage &pkg, const ZipEntry &part, TableInfo &t, size_t &nameBytes)
{
    bool ok = false, inColumns = false;
    const Error err = pkg.parsePart(part, [&](XmlReader &xml, XmlReader::Event ev) {
        const std::string_view name = xml.name();
        if (ev == XmlReader::EndElement) {
            if (name == "tableColumns")
                inColumns = false;
            return true;
        }
        if (ev != XmlReader::StartElement)
            return true;
        if (xml.depth() == 1 && name == "table") {
            t.name = attrText(xml.attribute("displayName"));
            if (t.name.empty())
                t.name = attrText(xml.attribute("name"));
            const std::string ref = attrText(xml.attribute("ref"));
            const size_t colon = ref.find(':');
            uint32_t c1, r1, c2, r2;
            bool hasRow1 = false, hasRow2 = false;
            ok = !t.name.empty() && colon != std::string::npos
                && parseCellRef(std::string_view(ref).substr(0, colon), c1, r1, hasRow1)
                    == RefStatus::Ok
                && parseCellRef(std::string_view(ref).substr(colon + 1), c2, r2, hasRow2)
                    == RefStatus::Ok
                && hasRow1 && hasRow2 && r1 <= r2 && c1 <= c2;
            if (!ok)
                return false;
            t.ref = { r1, c1, r2, c2 };
            t.headerRows = attrUint(xml.attribute("headerRowCount"), 1);
            t.totalsRows = attrUint(xml.attribute("totalsRowCount"), 0);
            nameBytes += t.name.size();
        } else if (xml.depth() == 2 && name == "tableColumns") {
            inColumns = true;
        } else if (inColumns && xml.depth() == 3 && name == "tableColumn") {
            if (t.columns.size() >= t.ref.columns() || nameBytes > kMaxTableNameBytes)
                return ok = false;
            std::string column = attrText(xml.attribute("name"));
            decodeOoxmlEscapes(column);
            nameBytes += column.size();
            t.columns.push_back(std::move(column));
        }
        return true;
    });
    return !err && ok && t.headerRows + t.totalsRows <= t.ref.rows()
        && t.columns.size() == t.ref.columns();
}

// The tables of every worksheet, read when the workbook opens: a formula
// of any sheet may refer to any of them. A table part that cannot be read
// is left out (formulas that refer to it keep their cached results); so
// are tables beyond kMaxTables.
void readTables(XlsxPackage &pkg, Workbook &book)
{
    size_t nameBytes = 0;
    for (size_t i = 0; i < book.sheets.size() && i < pkg.sheetParts.size(); ++i) {
        if (book.sheets[i].kind != SheetKind::Worksheet || pkg.sheetParts[i].empty())
            continue;
        std::map<std::string, Relationship> rels;
        if (pkg.readRelationships(pkg.sheetParts[i], rels))
            continue;
        for (const auto &r : rels) {
            const ZipEntry *part
                = typeIs(r.second.type, "table") ? pkg.zip.find(r.second.target) : nullptr;
            if (!part || book.tables.size() >= kMaxTables || nameBytes > kMaxTableNameBytes)
                continue;
            TableInfo t;
            t.sheet = int(i);
            if (readTable(pkg, *part, t, nameBytes))
                book.tables.push_back(std::move(t));
        }
    }
}

// styles.xml: the cellXfs table and custom number formats. Only the numFmts
// and cellXfs directly under the style sheet count (dxfs and cellStyleXfs
// hold look-alike elements).
Error readStyles(XlsxPackage &pkg, const ZipEntry &styles, Workbook &book)
{
    int section = 0; // 1 inside numFmts, 2 inside cellXfs
    Error tooMany;
    const Error err = pkg.parsePart(styles, [&](XmlReader &xml, XmlReader::Event ev) {
        if (ev == XmlReader::EndElement) {
            if (xml.depth() == 1)
                section = 0;
            return true;
        }
        if (ev != XmlReader::StartElement)
            return true;
        const std::string_view name = xml.name();
        if (xml.depth() == 2) {
            section = name == "numFmts" ? 1 : name == "cellXfs" ? 2 : 0;
        } else if (xml.depth() == 3 && section == 1 && name == "numFmt") {
            const uint32_t id = attrUint(xml.attribute("numFmtId"), UINT32_MAX);
            const std::string_view code = xml.attribute("formatCode");
            if (id <= 0xFFFF)
                book.numFmts[int(id)]
                    = code.size() <= kMaxFormatCodeBytes ? attrText(code) : "General";
        } else if (xml.depth() == 3 && section == 2 && name == "xf") {
            if (book.xfs.size() >= kMaxCellFormats) {
                tooMany = limitError(pkg.where(styles.name), kMaxCellFormats, "cell formats");
                return false;
            }
            Xf xf;
            xf.numFmtId = uint16_t(std::min<uint32_t>(attrUint(xml.attribute("numFmtId")), 0xFFFF));
            xf.quotePrefix = attrBool(xml.attribute("quotePrefix"));
            book.xfs.push_back(xf);
        }
        return true;
    });
    return err ? err : tooMany;
}

// sharedStrings.xml: each <si> is one string, its runs joined, phonetic
// (rPh) runs left out.
Error readSharedStrings(XlsxPackage &pkg, const ZipEntry &sst, Workbook &book)
{
    bool inSi = false, inT = false;
    // xml:space of the <si> and of the current <t>; where the <t>'s text
    // starts (a rich string has one <t> per run, each trimmed alone).
    bool siKeepsSpace = false, tKeepsSpace = false;
    size_t tStart = 0;
    int rPh = 0;
    Error stringsError;
    std::string text;
    uint64_t bytes = 0; // of the strings kept, as kMaxSharedStringBytes counts them
    auto tooMuchText = [&] {
        stringsError
            = limitError(pkg.where(sst.name), kMaxSharedStringBytes, "bytes of shared strings");
        return false;
    };
    Error err = pkg.parsePart(sst, [&](XmlReader &xml, XmlReader::Event ev) {
        if (ev == XmlReader::Text) {
            if (!inT || rPh != 0)
                return true;
            if (!xml.appendText(text))
                return false;
            return bytes + kTextObjectBytes + text.size() <= kMaxSharedStringBytes || tooMuchText();
        }
        const std::string_view name = xml.name();
        if (ev == XmlReader::StartElement) {
            if (name == "si") {
                inSi = true;
                text.clear();
                siKeepsSpace = keepsXmlSpace(xml.attribute("space"), false);
            } else if (inSi && name == "rPh") {
                ++rPh;
            } else if (inSi && name == "t") {
                inT = true;
                tKeepsSpace = keepsXmlSpace(xml.attribute("space"), siKeepsSpace);
                tStart = text.size();
            }
        } else {
            if (name == "t") {
                // Trimmed before the _xHHHH_ escapes are decoded: an escaped
                // space (_x0020_) stays.
                if (inT && !tKeepsSpace)
                    trimXmlSpace(text, tStart);
                inT = false;
            } else if (name == "rPh") {
                if (rPh > 0)
                    --rPh;
            } else if (name == "si" && inSi) {
                inSi = false;
                rPh = 0;
                decodeOoxmlEscapes(text);
                if (book.strings.size() >= kMaxSharedStrings) {
                    stringsError
                        = limitError(pkg.where(sst.name), kMaxSharedStrings, "shared strings");
                    return false;
                }
                bytes += kTextObjectBytes + text.size();
                if (bytes > kMaxSharedStringBytes)
                    return tooMuchText();
                book.strings.push_back(text);
            }
        }
        return true;
    });
    return err ? err : stringsError;
}

// metadata.xml: which cell metadata (a cell's cm="n") marks a dynamic
// array formula. A cell metadata block lists records <rc t="type" v="i">:
// type counts metadataTypes from 1, i the blocks of that type's
// futureMetadata from 0; a dynamic array is an XLDAPR block whose
// dynamicArrayProperties say fDynamic="1".
Error readMetadata(XlsxPackage &pkg, const ZipEntry &part, std::vector<bool> &dynamic)
{
    std::vector<std::string> types;
    std::vector<bool> future; // the XLDAPR blocks of futureMetadata
    bool inFuture = false, inCells = false;
    dynamic.clear();
    Error tooMany;
    const Error err = pkg.parsePart(part, [&](XmlReader &xml, XmlReader::Event ev) {
        const std::string_view name = xml.name();
        if (ev == XmlReader::EndElement) {
            if (name == "futureMetadata")
                inFuture = false;
            else if (name == "cellMetadata")
                inCells = false;
            return true;
        }
        if (ev != XmlReader::StartElement)
            return true;
        if (types.size() + future.size() + dynamic.size() > kMaxMetadataRecords) {
            tooMany = limitError(pkg.where(part.name), kMaxMetadataRecords, "metadata records");
            return false;
        }
        if (name == "metadataType") {
            types.push_back(attrText(xml.attribute("name")));
        } else if (name == "futureMetadata") {
            inFuture = xml.attribute("name") == "XLDAPR";
        } else if (inFuture && name == "bk") {
            future.push_back(false);
        } else if (inFuture && name == "dynamicArrayProperties" && !future.empty()) {
            future.back() = attrBool(xml.attribute("fDynamic"));
        } else if (name == "cellMetadata") {
            inCells = true;
        } else if (inCells && name == "bk") {
            dynamic.push_back(false);
        } else if (inCells && name == "rc" && !dynamic.empty()) {
            const uint32_t t = attrUint(xml.attribute("t")), v = attrUint(xml.attribute("v"));
            if (t >= 1 && t <= types.size() && types[t - 1] == "XLDAPR" && v < future.size()
                && future[v])
                dynamic.back() = true;
        }
        return true;
    });
    return err ? err : tooMany;
}

std::unique_ptr<Workbook> readPackage(std::unique_ptr<XlsxPackage> pkg, Error &err)
{
    ZipArchive &zip = pkg->zip;
    auto book = std::make_unique<Workbook>();
    ContentTypes overrides;
    if ((err = readContentTypes(*pkg, overrides)))
        return nullptr;
    std::string workbookPart;
    if ((err = findWorkbookPart(*pkg, overrides, workbookPart)))
        return nullptr;
    RelationshipMap wbRels;
    std::vector<Relationship> wbRelsOrdered;
    if ((err = pkg->readRelationships(workbookPart, wbRels, &wbRelsOrdered)))
        return nullptr;
    std::vector<std::string> sheetRelIds;
    if ((err = readWorkbook(*pkg, workbookPart, *book, sheetRelIds)))
        return nullptr;
    resolveSheetParts(*pkg, *book, sheetRelIds, wbRels, overrides);
    readTables(*pkg, *book);

    const Relationship *stylesRel = nullptr, *stringsRel = nullptr, *metadataRel = nullptr;
    for (const Relationship &r : wbRelsOrdered) {
        if (!stylesRel && typeIs(r.type, "styles"))
            stylesRel = &r;
        if (!metadataRel && typeIs(r.type, "sheetMetadata"))
            metadataRel = &r;
        if (!stringsRel && typeIs(r.type, "sharedStrings"))
            stringsRel = &r;
        book->macros = book->macros || typeIs(r.type, "vbaProject");
    }
    if (const ZipEntry *styles = stylesRel ? zip.find(stylesRel->target) : nullptr) {
        if ((err = readStyles(*pkg, *styles, *book)))
            return nullptr;
    }
    if (const ZipEntry *sst = stringsRel ? zip.find(stringsRel->target) : nullptr) {
        if ((err = readSharedStrings(*pkg, *sst, *book)))
            return nullptr;
    }
    if (const ZipEntry *metadata = metadataRel ? zip.find(metadataRel->target) : nullptr) {
        if ((err = readMetadata(*pkg, *metadata, pkg->dynamicArrays)))
            return nullptr;
    }
    pkg->sharedStrings = book->strings.size();
    book->path = zip.label();
    book->loaded.resize(book->sheets.size());
    book->loader = std::move(pkg);
    formula::installCalculator(*book);
    return book;
}

} // namespace

std::unique_ptr<Workbook> openXlsx(const std::string &path, Error *error)
{
    Error dummy;
    Error &err = error ? *error : dummy;
    auto pkg = std::make_unique<XlsxPackage>();
    if ((err = pkg->zip.openFile(path)))
        return nullptr;
    return readPackage(std::move(pkg), err);
}

std::unique_ptr<Workbook> openXlsxBuffer(const void *data, size_t size, Error *error)
{
    Error dummy;
    Error &err = error ? *error : dummy;
    auto pkg = std::make_unique<XlsxPackage>();
    if ((err = pkg->zip.openMemory(data, size)))
        return nullptr;
    return readPackage(std::move(pkg), err);
}

} // namespace sd
