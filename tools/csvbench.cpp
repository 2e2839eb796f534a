// csvbench WORKBOOK [REPEATS]
//
// Benchmark of the CSV writer alone: loads every worksheet of WORKBOOK once,
// then writes each REPEATS times (default 5) into a temporary folder and
// prints the best wall and CPU time per sheet, so that reading and writing
// can be judged apart on a busy machine.

#include "core/csvwriter.h"
#include "core/model.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextCodec>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

double cpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: csvbench WORKBOOK [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    sd::Error error;
    auto book = sd::Workbook::open(argv[1], &error);
    if (!book) {
        std::fprintf(stderr, "csvbench: %s\n", error.description().c_str());
        return 1;
    }
    QTemporaryDir dir;
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    for (int i = 0; i < int(book->sheets.size()); ++i) {
        const sd::Sheet *sheet = book->sheet(i, &error);
        if (!sheet) {
            std::fprintf(stderr, "csvbench: sheet %d: %s\n", i, error.description().c_str());
            return 1;
        }
        double bestWall = 1e300, bestCpu = 1e300;
        for (int r = 0; r < repeats; ++r) {
            QElapsedTimer timer;
            timer.start();
            const double cpu0 = cpuMs();
            error = sd::writeSheetCsv(*book, i, dir.filePath("out.csv"), utf8);
            const double cpu = cpuMs() - cpu0;
            const double wall = timer.nsecsElapsed() / 1e6;
            if (error) {
                std::fprintf(stderr, "csvbench: %s\n", error.description().c_str());
                return 1;
            }
            bestWall = std::min(bestWall, wall);
            bestCpu = std::min(bestCpu, cpu);
        }
        std::printf("sheet %d: %zu cells, write best of %d: %.1f ms wall, %.1f ms cpu "
                    "(%.0f ns per cell)\n",
                    i, sheet->cells.size(), repeats, bestWall, bestCpu,
                    bestCpu * 1e6 / std::max<size_t>(1, sheet->cells.size()));
    }
    return 0;
}
