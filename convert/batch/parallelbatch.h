#pragma once

#include "workbookconverter.h"

#include <QPair>
#include <QStringList>
#include <QVector>

#include <functional>

// One workbook of a batch converted on a job thread: how it ended and its
// failures in the order met (path concerned, reason).
struct WorkbookReport
{
    WorkbookResult result;
    QVector<QPair<QString, QString>> failures;
};

// What the batch hears, on the calling thread, strictly in the order of the
// workbooks: `started` when the workbook at `index` is being converted and
// every workbook before it has been reported (the place of its progress
// report), then `finished` once it is done. After a stop request, the
// workbooks that were started are reported in order too, those cut short
// with their result's end Stopped.
struct ParallelEvents
{
    std::function<void(int index)> started;
    std::function<void(int index, const WorkbookReport &report)> finished;
};

// Converts `workbooks` (absolute paths) with `jobs` threads, each with an application
// instance of its own, one workbook per thread at a time, in the order of
// the list. The CSV files are committed in groups (sd::CsvCommitGroup): a
// workbook is reported once its files have their names. The result is the one a batch that converts
// them one after another gets: the output names are settled in the order of the list (a workbook
// claims its CSV file names only once every earlier workbook whose names could meet its own is
// done), and the events come in that order.
//
// A stop request to the calling thread is passed on to every job thread,
// whose conversions end as in a batch of one thread (no partial file); the
// call then returns Stopped. NoApplication when the application cannot be
// reached (after the workbooks before that one are reported).
WorkbookResult::End ConvertInParallel(const QStringList &workbooks, const BatchSetting &setting,
                                      int jobs, const ParallelEvents &events);

// Grows the process's table of file descriptors, while it has one thread,
// to what a parallel batch uses: the commit group holds two descriptors per
// waiting file, and each time the table grows later, with threads running,
// the kernel waits for an RCU grace period (some milliseconds) while every
// thread that opens a file waits too.
void ReserveDescriptorTable();

// Whether CSV file names of a workbook with the base name `baseA` whose files
// go to `folderA`, and of one with `baseB` for `folderB`, could ever be the
// same file: the same folder, and one base name the beginning of the other
// where a claimed name goes on with "(" (a sheet name) or " (" (a counter).
// Letter case is ignored, for file systems that ignore it.
bool OutputNamesMayMeet(const QString &folderA, const QString &baseA, const QString &folderB,
                        const QString &baseB);
