// Reader-side figures for the .xls benchmark (bench/bench_xls.sh builds it):
//   xlsbench read FILE...     open and load every sheet, no CSV writing
//   xlsbench render FILE...   the same, plus the displayed text of every cell
//   xlsbench stream FILE...   compound file only: copy out the workbook stream
// Prints the wall time and the cells or bytes handled.
#include "core/display.h"
#include "core/model.h"
#include "io/cfb.h"

#include <QFile>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: xlsbench read|render|stream FILE...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const auto start = std::chrono::steady_clock::now();
    uint64_t cells = 0, bytes = 0;
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        if (mode == "stream") {
            QFile file(QString::fromLocal8Bit(argv[i]));
            if (!file.open(QIODevice::ReadOnly)) {
                ++failures;
                continue;
            }
            const uchar *map = file.map(0, file.size());
            sd::CompoundFile cfb;
            std::vector<uint8_t> stream;
            if (!map || cfb.open(map, size_t(file.size())) || cfb.findRootEntry("Workbook") < 0
                || cfb.readStream(cfb.rootEntries()[size_t(cfb.findRootEntry("Workbook"))],
                                  stream)) {
                ++failures;
                continue;
            }
            bytes += stream.size();
            continue;
        }
        sd::Error e;
        auto book = sd::Workbook::open(argv[i], &e);
        if (!book) {
            std::fprintf(stderr, "%s: %s\n", argv[i], e.description().c_str());
            ++failures;
            continue;
        }
        sd::DisplayFormatter formatter(*book);
        std::string text;
        for (int s = 0; s < int(book->sheets.size()); ++s) {
            const sd::Sheet *sheet = book->sheet(s, &e);
            if (!sheet) {
                ++failures;
                continue;
            }
            cells += sheet->cells.size();
            if (mode == "render") {
                for (const sd::Cell &c : sheet->cells) {
                    text.clear();
                    formatter.append(c, text);
                    bytes += text.size();
                }
            }
        }
    }
    const double ms
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
    std::printf("%s: %d files, %.1f ms, %llu cells, %llu bytes, %d failures\n", mode.c_str(),
                argc - 2, ms, static_cast<unsigned long long>(cells),
                static_cast<unsigned long long>(bytes), failures);
    return failures ? 1 : 0;
}
