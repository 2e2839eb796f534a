#pragma once

// Helpers of the tests that run whole batches on the fake application.

#include "mergeobject.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTest>
#include <QThread>

#include <functional>

namespace batchtest {

inline QString summary(int workbooks, int csvFiles)
{
    return QStringLiteral("成功将%1个excel文件转换为%2个csv文件。").arg(workbooks).arg(csvFiles);
}

inline void touch(const QString &path)
{
    QVERIFY2(sdtest::writeFile(path), qPrintable(path));
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY2(sdtest::writeFile(path, bytes), qPrintable(path));
}

// Lets a tick of the coarse clock that file change times come from pass: a
// file made before counts as an earlier run's, which a batch replaces,
// rather than one of a batch beside it.
inline void afterAClockTick()
{
    QThread::msleep(20);
}

inline QByteArray readAll(const QString &path)
{
    return sdtest::readFile(path);
}

// Every file under `root`, as sorted relative paths; links are listed, not followed.
inline QStringList treeOf(const QString &root)
{
    QStringList files;
    QDir base(root);
    std::function<void(const QString &)> walk = [&](const QString &dir) {
        for (const QFileInfo &fi : QDir(dir).entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden
                                                           | QDir::System | QDir::NoDotAndDotDot)) {
            if (fi.isDir() && !fi.isSymLink())
                walk(fi.absoluteFilePath());
            else
                files.append(base.relativeFilePath(fi.absoluteFilePath()));
        }
    };
    walk(root);
    files.sort();
    return files;
}

struct BatchResult
{
    QStringList reports; // every ShowDisposingFile text
    QStringList failures; // every ShowFailure, as "path|reason"
    bool completed = false;
};

// Runs one batch synchronously on this thread, with `jobs` jobs (one: every
// call on this thread, in the order of the automation table).
inline BatchResult runBatch(const QString &source, const QString &save, bool onlyFirstSheet,
                            bool utf8, const QString &applicationId, int jobs = 1)
{
    g_SourcePath = source;
    g_SavePath = save;
    g_OnlyFirstSheet = onlyFirstSheet;
    g_SaveAsUTF8 = utf8;
    MergeObject worker(QStringLiteral("tem"), nullptr);
    worker.setApplicationId(applicationId);
    worker.setJobs(jobs);
    BatchResult result;
    QObject::connect(&worker, &MergeObject::ShowDisposingFile,
                     [&](const QString &text) { result.reports.append(text); });
    QObject::connect(&worker, &MergeObject::ShowFailure,
                     [&](const QString &path, const QString &reason) {
                         result.failures.append(path + QLatin1Char('|') + reason);
                     });
    QObject::connect(&worker, &MergeObject::Signal_SetButtonEnable,
                     [&] { result.completed = true; });
    worker.Transform();
    return result;
}

} // namespace batchtest
