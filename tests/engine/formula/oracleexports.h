#pragma once

// The application's CSV exports of corpus workbooks, as the formula oracle
// reads them: which export holds which sheet, its fields by row and column,
// and whether a displayed text of ours is what a field shows.

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

namespace oracle {

// Workbook (relative to the corpus) -> sheet index -> export (relative to
// the corpus). An Excel 2016 export is preferred to an Excel 2011 one.
using ExportMap = QMap<QString, QMap<int, QString>>;

// The exports that MANIFEST.md's table lists and those of poi/ (named
// apachepoi_<workbook>.<N>.csv).
ExportMap readExports(const QString &corpus);

// One export read: rows of fields, unquoted.
struct ExportSheet
{
    QVector<QStringList> rows;
    bool utf8 = false; // most exports are Windows-1252, a few UTF-8
    // The field at (row, column) of the export; empty beyond the rows written.
    QString field(int row, int col) const;
};
bool readExport(const QString &path, ExportSheet &out);

// Whether our displayed text is what the export shows: the same text, where
// a Windows-1252 export shows '_' for each UTF-16 unit it cannot hold, Excel
// for Mac writes the short date m/d/yyyy as m/d/yy, and a line break in a
// cell as CR.
bool sameField(const QString &expected, const QString &ours, bool utf8Export);

} // namespace oracle
