#pragma once

// Small .xlsx workbooks made on the spot: a stored (uncompressed) zip file
// with the fewest parts the reader needs, each sheet a grid of numbers and
// inline strings. An empty grid makes a blank sheet.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

namespace tinyxlsx {

using Grid = QVector<QStringList>; // rows of cells; a cell that is a number stays one

inline quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void put16(QByteArray *out, quint32 v)
{
    out->append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}

inline void put32(QByteArray *out, quint32 v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A zip archive of `parts` (name, content), every part stored.
inline QByteArray storedZip(const QList<QPair<QByteArray, QByteArray>> &parts)
{
    QByteArray out, directory;
    for (const auto &[name, data] : parts) {
        const quint32 offset = quint32(out.size()), crc = crc32(data);
        put32(&out, 0x04034b50);
        put16(&out, 20);
        put16(&out, 0);
        put16(&out, 0); // stored
        put32(&out, 0); // time and date
        put32(&out, crc);
        put32(&out, quint32(data.size()));
        put32(&out, quint32(data.size()));
        put16(&out, quint32(name.size()));
        put16(&out, 0);
        out += name + data;
        put32(&directory, 0x02014b50);
        put16(&directory, 20);
        put16(&directory, 20);
        put16(&directory, 0);
        put16(&directory, 0);
        put32(&directory, 0);
        put32(&directory, crc);
        put32(&directory, quint32(data.size()));
        put32(&directory, quint32(data.size()));
        put16(&directory, quint32(name.size()));
        for (int i = 0; i < 4; ++i)
            put16(&directory, 0); // extra, comment, disk, internal attributes
        put32(&directory, 0);
        put32(&directory, offset);
        directory += name;
    }
    const quint32 start = quint32(out.size());
    out += directory;
    put32(&out, 0x06054b50);
    put32(&out, 0);
    put16(&out, quint32(parts.size()));
    put16(&out, quint32(parts.size()));
    put32(&out, quint32(directory.size()));
    put32(&out, start);
    put16(&out, 0);
    return out;
}

inline QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

inline QByteArray sheetXml(const Grid &grid)
{
    QByteArray xml = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                     "main\"><sheetData>";
    for (int r = 0; r < grid.size(); ++r) {
        xml += "<row r=\"" + QByteArray::number(r + 1) + "\">";
        for (int c = 0; c < grid[r].size(); ++c) {
            const QByteArray ref = QByteArray(1, char('A' + c)) + QByteArray::number(r + 1);
            bool number = false;
            grid[r][c].toDouble(&number);
            if (number)
                xml += "<c r=\"" + ref + "\"><v>" + grid[r][c].toLatin1() + "</v></c>";
            else
                xml += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + escaped(grid[r][c])
                    + "</t></is></c>";
        }
        xml += "</row>";
    }
    return xml + "</sheetData></worksheet>";
}

// The bytes of a workbook with the named sheets, in order.
inline QByteArray workbook(const QList<QPair<QString, Grid>> &sheets)
{
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    QByteArray book = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                      "main\" xmlns:r=\""
        + rel + "\"><sheets>";
    QByteArray rels
        = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    QList<QPair<QByteArray, QByteArray>> parts;
    auto add = [&parts](const QByteArray &name, const QByteArray &data) {
        parts.append(qMakePair(name, data));
    };
    add("[Content_Types].xml",
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>");
    add("_rels/.rels",
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
        "relationships\"><Relationship Id=\"rId1\" Type=\""
            + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    for (int i = 0; i < sheets.size(); ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        book += "<sheet name=\"" + escaped(sheets[i].first) + "\" sheetId=\"" + n + "\" r:id=\"rId"
            + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel
            + "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        add("xl/worksheets/sheet" + n + ".xml", sheetXml(sheets[i].second));
    }
    add("xl/workbook.xml", book + "</sheets></workbook>");
    add("xl/_rels/workbook.xml.rels", rels + "</Relationships>");
    return storedZip(parts);
}

// Writes `bytes` to `path`, making its folders.
inline bool write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A workbook of the named sheets at `path`.
inline bool book(const QString &path, const QList<QPair<QString, Grid>> &sheets)
{
    return write(path, workbook(sheets));
}

// A grid of numbers with a text cell (a comma and quotes in it) now and
// then; `seed` tells grids apart.
inline Grid numbers(int rows, int columns, int seed)
{
    Grid grid;
    for (int r = 0; r < rows; ++r) {
        QStringList row;
        for (int c = 0; c < columns; ++c)
            row << ((r + c) % 3 == 0 ? QStringLiteral("t%1,\"%2\"").arg(seed).arg(r)
                                     : QString::number(seed * 1000 + r * columns + c));
        grid << row;
    }
    return grid;
}

// A tree under `root` whose CSV names collide in every folder, so that the
// workbooks of a batch wait for each other's names: k.xlsm beside k.xlsx,
// "k (2).xlsx" and "k(S1).xlsx" (two sheets each), and a larger workbook
// every third folder, `folders` folders in all.
inline bool collidingTree(const QString &root, int folders)
{
    bool ok = true;
    for (int f = 0; f < folders && ok; ++f) {
        const QString folder = root + QStringLiteral("/f%1").arg(f);
        int seed = f * 10;
        for (const char *name : { "k.xlsm", "k.xlsx", "k (2).xlsx", "k(S1).xlsx" })
            ok = ok
                && book(folder + QLatin1Char('/') + QLatin1String(name),
                        { { QStringLiteral("S1"), numbers(40, 4, ++seed) },
                          { QStringLiteral("S2"), numbers(5, 2, ++seed) } });
        if (f % 3 == 0)
            ok = ok
                && book(folder + QStringLiteral("/big.xlsx"),
                        { { QStringLiteral("S1"), numbers(4000, 6, ++seed) } });
    }
    return ok;
}

} // namespace tinyxlsx
