#pragma once

#include "axobject.h"

#include <QHash>
#include <QMutex>
#include <QStringList>
#include <QVariant>

#include <memory>

// A scripted spreadsheet application for the tests of the conversion job. It
// is registered under an identifier of its own, answers the automation calls
// from a script per workbook path and records every call with its arguments,
// one line each, such as
//   app.WorkBooks   books.Open(const QString&)(/in/a.xlsx)   range.Row
//   app.DisplayAlerts=false   active.SaveAs(const QString&, QVariant)(/out/a.csv,6)
// Its SaveAs writes "<workbook path>|<sheet name>" into the file, so tests can
// tell which workbook and sheet a CSV file came from.

struct FakeSheet
{
    QString name = QStringLiteral("Sheet1");
    bool worksheet = true; // false: a chart sheet (counted by Sheets only)
    int row = 1, column = 1; // top-left of the used range, from 1
    int rows = 1, columns = 1; // size of the used range
    QVariant value = QStringLiteral("x"); // the top-left cell's value
    bool noUsedRange = false;
};

struct FakeWorkbook
{
    bool opens = true;
    QList<FakeSheet> sheets = { FakeSheet() };
};

struct FakeScript
{
    // Workbooks by native path; a path not listed opens as the default FakeWorkbook.
    QHash<QString, FakeWorkbook> books;
    int workbooksMissingFrom = 0; // the n-th "WorkBooks" query (from 1) and later yield none
    bool noActiveWorkbook = false;
    int interruptAtSave = 0; // the n-th SaveAs asks the calling thread to stop

    // Filled by the fake.
    int starts = 0;
    int workbooksQueries = 0;
    int saves = 0;
    QString copyPath; // the sheet that the last "Copy()" made the active workbook from
    int copySheet = -1;

    void record(const QString &line);
    QStringList calls() const;
    FakeWorkbook book(const QString &path) const;

    mutable QMutex mutex;
    QStringList log;
};

// Registers a fake application under `progId` that answers from `script`.
void registerFakeApplication(const QString &progId, std::shared_ptr<FakeScript> script);
