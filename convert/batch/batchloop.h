#pragma once

#include "workbookconverter.h"

#include <QStringList>

#include <ctime>
#include <functional>
#include <memory>

class AxCommitGroup;

// What a batch hears, on the thread that runs the loop, strictly in the order
// of the workbooks: `started` when the workbook at `index` is being
// converted and every workbook before it has been reported (the place of its
// progress report), then `finished` once it is done and its CSV files have
// their names, with its failures. After a stop request, the workbooks that
// were started are reported in order too, those cut short with end Stopped.
struct BatchEvents
{
    std::function<void(int index)> started;
    std::function<void(int index, const WorkbookResult &result)> finished;
};

// The batch loop of the window and of the command line: it converts the
// workbooks of a batch N at a time, each conversion a WorkbookConverter of
// its own (one application instance per job), and keeps what the batch owns:
// the order of the reports, the CSV file names it claims, and the commit
// group that names the files (when the application has one).
//
// With one job the workbooks are converted on the calling thread; with more,
// each job has a thread of its own and the calling thread reports. The
// files, their names, the events and the counts are the same whatever the
// number of jobs: the names are settled in the order of the list (a workbook
// claims its CSV file names only once every earlier workbook whose names
// could meet its own is reported), and the events come in that order.
//
// A stop request to the calling thread (QThread::requestInterruption) ends
// the batch promptly whatever its jobs wait for: each job's conversion ends
// as in a batch of one job (no partial file), and run() returns Stopped.
// NoApplication when the application cannot be reached (after the workbooks
// before that one are reported).
class BatchLoop
{
public:
    // The batch begins, with the application `applicationId` (and its
    // commit group, when it has one).
    explicit BatchLoop(const QString &applicationId);
    ~BatchLoop();
    BatchLoop(const BatchLoop &) = delete;
    BatchLoop &operator=(const BatchLoop &) = delete;

    // Converts `workbooks` (absolute paths, in the order of the walk) with
    // `jobs` jobs.
    WorkbookEnd run(const QStringList &workbooks, const BatchSetting &setting, int jobs,
                    const BatchEvents &events);

private:
    struct timespec m_began = {};
    std::unique_ptr<AxCommitGroup> m_commits;
};

// Grows the process's table of file descriptors, while it has one thread,
// to what a batch of several jobs uses: the commit group holds two
// descriptors per waiting file, and each time the table grows later, with
// threads running, the kernel waits for an RCU grace period (some
// milliseconds) while every thread that opens a file waits too.
void ReserveDescriptorTable();

// Whether CSV file names of a workbook with the base name `baseA` whose files
// go to `folderA`, and of one with `baseB` for `folderB`, could ever be the
// same file: the same folder, and one base name the beginning of the other
// where a claimed name goes on with "(" (a sheet name) or " (" (a counter).
// Letter case is ignored, for file systems that ignore it.
bool OutputNamesMayMeet(const QString &folderA, const QString &baseA, const QString &folderB,
                        const QString &baseB);
