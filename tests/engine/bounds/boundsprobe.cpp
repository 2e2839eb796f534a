// sd_bounds_probe LIMIT_MB OUTDIR WORKBOOK...
//
// Converts every worksheet of each workbook to OUTDIR/<k>-<sheet>.csv under
// an address-space limit of LIMIT_MB megabytes (RLIMIT_AS, set before
// anything else), and prints one line per workbook or sheet:
//   <k> sheet <i>: written <bytes>
//   <k> sheet <i>: refused: <reason>
//   <k>: not opened: <reason>
//   peak address space <megabytes>, peak resident <megabytes>
// Exits 0 when every workbook was handled, 2 when memory ran out.

#include "core/csvwriter.h"
#include "core/model.h"
#include "open/openworkbook.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <new>

#include <sys/resource.h>

namespace {

// VmPeak and VmHWM of /proc/self/status, in megabytes.
void printPeaks()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return;
    long long peak = 0, resident = 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "VmPeak:")
            peak = parts[1].toLongLong() >> 10;
        else if (parts.size() >= 2 && parts[0] == "VmHWM:")
            resident = parts[1].toLongLong() >> 10;
    }
    std::printf("peak address space %lld, peak resident %lld\n", peak, resident);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: sd_bounds_probe LIMIT_MB OUTDIR WORKBOOK...\n");
        return 1;
    }
    const rlim_t limit = rlim_t(std::strtoull(argv[1], nullptr, 10)) << 20;
    const rlimit bound { limit, limit };
    if (setrlimit(RLIMIT_AS, &bound) != 0) {
        std::perror("setrlimit");
        return 1;
    }
    try {
        for (int k = 3; k < argc; ++k) {
            const int n = k - 3;
            sd::Error error;
            std::unique_ptr<sd::Workbook> book = sd::openWorkbook(argv[k], &error);
            if (!book) {
                std::printf("%d: not opened: %s\n", n, error.description().c_str());
                continue;
            }
            for (int i = 0; i < int(book->sheets.size()); ++i) {
                const QString path
                    = QString::fromLocal8Bit(argv[2]) + QStringLiteral("/%1-%2.csv").arg(n).arg(i);
                error = sd::writeSheetCsv(*book, i, path);
                book->unloadSheet(i);
                if (error)
                    std::printf("%d sheet %d: refused: %s\n", n, i, error.description().c_str());
                else
                    std::printf("%d sheet %d: written %lld\n", n, i, QFileInfo(path).size());
            }
        }
    } catch (const std::bad_alloc &) {
        std::printf("out of memory\n");
        printPeaks();
        return 2;
    }
    printPeaks();
    return 0;
}
