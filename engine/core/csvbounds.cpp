#include "core/csvbounds_p.h"
#include "core/csvwriter_p.h"
#include "core/sheetbudget.h"

#include "io/limits.h"

#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

namespace sd {

namespace {

CsvFreeSpaceFunction g_freeSpace = nullptr;

// Bytes free to an ordinary user on the file system of `folder`.
bool freeSpace(const char *folder, uint64_t *bytes)
{
    if (g_freeSpace)
        return g_freeSpace(folder, bytes);
    struct statvfs info;
    if (::statvfs(folder, &info) != 0)
        return false;
    *bytes = uint64_t(info.f_bavail) * info.f_frsize;
    return true;
}

// "A", "Z", "AA", ... "XFD" for 0-based columns.
std::string columnName(uint32_t col)
{
    std::string name;
    for (uint64_t n = uint64_t(col) + 1; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), char('A' + (n - 1) % 26));
    return name;
}

std::string rangeName(const CellRange &r)
{
    return columnName(r.firstCol) + std::to_string(r.firstRow + 1) + ":" + columnName(r.lastCol)
        + std::to_string(r.lastRow + 1);
}

} // namespace

void setCsvFreeSpaceFunction(CsvFreeSpaceFunction function)
{
    g_freeSpace = function;
}

std::string sheetLabel(const Workbook &book, int sheetIndex)
{
    const bool named = sheetIndex >= 0 && size_t(sheetIndex) < book.sheets.size();
    return "sheet \"" + (named ? book.sheets[size_t(sheetIndex)].name : std::string()) + "\"";
}

Error checkCsvSize(const Workbook &book, int sheetIndex, const Sheet &sheet, const QString &path)
{
    return checkCsvSize(book, sheetIndex, sheet.usedRange(), sheet.cells.size(), path);
}

Error checkCsvSize(const Workbook &book, int sheetIndex, const CellRange &range, uint64_t cells,
                   const QString &path)
{
    const uint64_t fields = uint64_t(range.rows()) * range.columns();
    const uint64_t padding = fields - std::min<uint64_t>(fields, cells);
    const std::string target = QFile::encodeName(path).toStdString();
    if (padding > kMaxSheetPadding)
        return Error(ErrorCode::TooLarge, target,
                     sheetLabel(book, sheetIndex) + ": its used range " + rangeName(range) + " has "
                         + groupedNumber(padding) + " empty cells to write, more than "
                         + groupedNumber(kMaxSheetPadding) + " (the padding bound)");
    // Every row holds columns - 1 separators and ends in CR LF, whatever
    // its cells show: the least the file will take.
    const uint64_t least = uint64_t(range.rows()) * (uint64_t(range.columns()) + 1);
    uint64_t available = 0;
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (least >= kFreeSpaceCheckBytes && freeSpace(folder.constData(), &available)
        && least > available)
        return Error(ErrorCode::WriteFailed, target,
                     sheetLabel(book, sheetIndex) + ": its CSV file takes " + groupedNumber(least)
                         + " bytes at least, and the disk has " + groupedNumber(available)
                         + " bytes free");
    return {};
}

} // namespace sd
