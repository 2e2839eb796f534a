#pragma once

// The vocabulary of the automation seam: the programmatic identifier of the
// spreadsheet application and the member texts of its object model, spelled
// as ActiveQt's QAxObject passes them to a COM server. The worker, the
// built-in application and the tests' recording fake all use these
// constants, so a misspelt member fails to compile instead of quietly
// answering with an empty value.
namespace AxNames {

// The programmatic identifier of the spreadsheet application.
inline constexpr char kExcelApplication[] = "Excel.Application";

// Application
inline constexpr char kSetVisible[] = "SetVisible (bool Visible)";
inline constexpr char kVisible[] = "Visible";
inline constexpr char kDisplayAlerts[] = "DisplayAlerts";
inline constexpr char kWorkbooks[] = "WorkBooks";
inline constexpr char kActiveWorkbook[] = "ActiveWorkBook";
inline constexpr char kQuit[] = "Quit(void)";

// Workbooks collection
inline constexpr char kOpen[] = "Open(const QString&)";

// Workbook
inline constexpr char kSheets[] = "Sheets";
inline constexpr char kWorksheetAt[] = "WorkSheets(int)";
inline constexpr char kClose[] = "Close (Boolean)";

// Worksheet
inline constexpr char kUsedRange[] = "UsedRange";
inline constexpr char kCells[] = "Cells(int, int)";
inline constexpr char kCopy[] = "Copy()";

// Used range
inline constexpr char kRow[] = "Row";
inline constexpr char kColumn[] = "Column";
inline constexpr char kRows[] = "Rows";
inline constexpr char kColumns[] = "Columns";

// Cell
inline constexpr char kValueCall[] = "Value()";
inline constexpr char kValue[] = "Value";
inline constexpr char kText[] = "Text";

// The workbook that Copy() makes
inline constexpr char kSaveAs[] = "SaveAs(const QString&, QVariant)";
// SaveAs's file format code for "CSV (comma delimited)".
inline constexpr int kCsvFileFormat = 6;

// Shared by several objects: collections, sheets, workbooks.
inline constexpr char kCount[] = "Count";
inline constexpr char kName[] = "Name";

} // namespace AxNames
