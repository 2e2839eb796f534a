#pragma once

#include "axobject.h"

#include <QStringList>

#include <memory>

// The built-in spreadsheet application that answers to "Excel.Application"
// (AxNames::kExcelApplication): the object model of the automation calls the
// conversion job makes, served over the engine library (workbook reader,
// displayed text, CSV writer).
//
//   application: "SetVisible (bool Visible)", "DisplayAlerts", "WorkBooks",
//                "ActiveWorkBook", "Quit(void)" (closes every workbook; the
//                object keeps answering)
//   workbooks:   "Open(const QString&)" (none for a file it cannot read), "Count"
//   workbook:    "Sheets" (all kinds), "WorkSheets(int)" (worksheets only,
//                from 1), "Close (Boolean)", "Name"
//   worksheet:   "UsedRange", "Cells(int, int)", "Copy()", "Name"
//   used range:  "Row", "Column", "Rows", "Columns"; rows/columns: "Count"
//   cell:        "Value()" (number, text, boolean, error text; empty when
//                the cell holds no value), "Text" (the displayed text)
//   copy:        "SaveAs(const QString&, QVariant)" with format 6 writes the
//                sheet as CSV in the locale's encoding, "Name". Before its
//                first save into a folder it removes the temporary files that
//                a killed run left there; a stop request of the calling
//                thread ends a long sheet part-way, without a file.
//
// A workbook that does not open, a worksheet that does not load and a save
// that fails raise an exception (AxObject::exception) that says why.
//
// "Copy()" copies no cell data: the active workbook refers to the source sheet,
// which stays loaded until the next copy or "Quit(void)".
//
// Like the desktop application, "Open" opens a workbook encrypted with the
// application's built-in default password without asking; a workbook that
// needs another password is refused ("password needed" on standard error)
// unless it is among the passwords set below.
std::unique_ptr<AxServer> createBuiltinApplication();

// Passwords that "Open" tries, in order, after the built-in default one, for
// every workbook from now on (process-wide; the command line's --password).
// The window sets none. Thread-safe; the texts stay in memory only.
void setBuiltinApplicationPasswords(const QStringList &passwords);

// Registers the built-in application with the seam under
// AxNames::kExcelApplication. Every program that runs conversions calls this
// once at start (the window's and the command line's main, tests that use the
// built-in application); calling it again is harmless.
void registerBuiltinApplication();
