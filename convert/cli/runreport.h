#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

/// What sheetdrain-cli --report writes: one JSON object per line for each
/// workbook of the run (and for each folder or file name that the walk could
/// not read), in the order the run met them:
///   {"path":"/in/a.xlsx","status":"converted","reason":"","csv":["/out/a.csv"]}
/// status is "converted", "failed" (reason says why; several reasons are
/// joined by "; ") or "stopped" (the run was interrupted during it).
/// Fed from the worker's signals, on the thread that owns it.
class RunReport
{
public:
    /// The worker began the workbook at `path`.
    void workbookStarted(const QString &path);
    /// A failure reported for a workbook, one of its CSV files, or a folder.
    void failure(const QString &path, const QString &reason);
    /// The workbook at `path` is done, with the CSV files it wrote.
    void workbookDone(const QString &path, bool converted, const QStringList &csvFiles);
    /// The run ended without finishing the workbook it was at: interrupted,
    /// or (with `reason`) unable to go on.
    void runCutShort(const QString &reason);

    /// The report's lines, each ending in "\n", UTF-8.
    QByteArray jsonLines() const;

private:
    struct Record
    {
        QString path;
        QString status;
        QStringList reasons;
        QStringList csvFiles;
    };
    int recordFor(const QString &path);

    QVector<Record> m_records;
    QHash<QString, int> m_byPath;
    QHash<QString, int> m_byCsvFile;
    int m_current = -1; // started and not yet done
};

/// `text` as a JSON string, quotes included: '"', '\' and control characters
/// escaped, everything else as it is.
QString jsonString(const QString &text);
