#pragma once

#include "axobject.h"

#include <QHash>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <mutex>

// A scripted spreadsheet application for the tests of the conversion job. It
// is registered under an identifier of its own, answers the automation calls
// from a script per workbook path and records every call with its arguments,
// one line each, such as
//   app.WorkBooks   books.Open(const QString&)(/in/a.xlsx)   range.Row
//   app.DisplayAlerts=false   active.SaveAs(const QString&, QVariant)(/out/a.csv,6)
// Its SaveAs writes "<workbook path>|<sheet name>" into the file (in UTF-8, or
// the encoding the script names), so tests can tell which workbook and sheet
// a CSV file came from. Failures that the script asks for raise an exception
// with a reason, as the built-in application does. Each application instance
// (one per job of a batch) has its own active workbook; the script and its
// log are shared, under a lock.

struct FakeSheet
{
    QString name = QStringLiteral("Sheet1");
    bool worksheet = true; // false: a chart sheet (counted by Sheets only)
    int row = 1, column = 1; // top-left of the used range, from 1
    int rows = 1, columns = 1; // size of the used range
    QVariant value = QStringLiteral("x"); // the top-left cell's value
    bool noUsedRange = false;
    QString loadError; // not empty: "WorkSheets(int)" fails with this reason
};

struct FakeWorkbook
{
    bool opens = true;
    QString openError; // the reason given when it does not open (none when empty)
    QList<FakeSheet> sheets = { FakeSheet() };
};

struct FakeScript
{
    // Workbooks by native path; a path not listed opens as the default FakeWorkbook.
    QHash<QString, FakeWorkbook> books;
    int workbooksMissingFrom = 0; // the n-th "WorkBooks" query (from 1) and later yield none
    bool noActiveWorkbook = false;
    int interruptAtSave = 0; // the n-th SaveAs asks the calling thread to stop
    int failSaveAt = 0; // the n-th SaveAs writes nothing and raises "disk full"
    // The n-th SaveAs is stopped part-way, as a long sheet is: it asks the
    // calling thread to stop, writes nothing and raises "stopped".
    int stopInsideSaveAt = 0;
    QByteArray saveCodec; // encoding of what SaveAs writes; empty: UTF-8

    // Filled by the fake.
    int starts = 0;
    int workbooksQueries = 0;
    int saves = 0;

    void record(const QString &line);
    QStringList calls() const;
    FakeWorkbook book(const QString &path) const;

    mutable std::mutex mutex; // std::mutex: ThreadSanitizer sees it
    QStringList log;
};

// Registers a fake application under `progId` that answers from `script`.
void registerFakeApplication(const QString &progId, std::shared_ptr<FakeScript> script);
