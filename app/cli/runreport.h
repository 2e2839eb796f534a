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

    /// Whether failures may name a CSV file of a finished workbook (the UTF-8
    /// pass); true unless told otherwise. Without them, the CSV files are not
    /// looked up, and a long run keeps only its lines.
    void setCsvFailuresPossible(bool possible) { m_csvFailuresPossible = possible; }

    /// The report's lines, each ending in "\n", UTF-8.
    QByteArray jsonLines() const;

private:
    // A record as it will be written: path and CSV files already as JSON
    // (UTF-8), the reasons usually none.
    struct Record
    {
        QByteArray path;
        const char *status = nullptr;
        QStringList reasons;
        QByteArray csvFiles; // the JSON strings joined by ","
    };
    int recordFor(const QString &path);

    QVector<Record> m_records;
    QHash<QString, int> m_byCsvFile;
    bool m_csvFailuresPossible = true;
    int m_current = -1; // started and not yet done
};

/// `text` as a JSON string, quotes included: '"', '\' and control characters
/// escaped, everything else as it is.
QString jsonString(const QString &text);
