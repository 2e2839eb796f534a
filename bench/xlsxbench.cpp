// Reader-side figures for the .xlsx benchmark (bench/run_xlsx.sh builds it):
//   xlsxbench inflate FILE...   inflate every part (zlib, streamed), no parsing
//   xlsxbench libdeflate FILE... inflate every part whole with libdeflate
//   xlsxbench read FILE...      open and load every sheet, no CSV writing
// Prints the wall time and the bytes or cells handled.
#include "core/model.h"
#include "io/zip.h"
#include "xlsx/xlsxreader.h"

#include <libdeflate.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: xlsxbench inflate|libdeflate|read FILE...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const auto start = std::chrono::steady_clock::now();
    uint64_t bytes = 0, cells = 0;
    int failures = 0;
    std::string buf(1 << 20, '\0');
    for (int i = 2; i < argc; ++i) {
        if (mode == "read") {
            sd::Error e;
            auto book = sd::openXlsx(argv[i], &e);
            if (!book) {
                std::fprintf(stderr, "%s: %s\n", argv[i], e.description().c_str());
                ++failures;
                continue;
            }
            for (int s = 0; s < int(book->sheets.size()); ++s) {
                const sd::Sheet *sheet = book->sheet(s, &e);
                if (sheet)
                    cells += sheet->cells.size();
                else
                    ++failures;
            }
            continue;
        }
        sd::ZipArchive zip;
        if (sd::Error e = zip.openFile(argv[i])) {
            std::fprintf(stderr, "%s: %s\n", argv[i], e.description().c_str());
            ++failures;
            continue;
        }
        for (const sd::ZipEntry &entry : zip.entries()) {
            if (mode == "libdeflate") {
                std::string in(entry.compressedSize, '\0'), out(entry.size, '\0');
                zip.readAt(entry.dataOffset, in.data(), in.size());
                libdeflate_decompressor *d = libdeflate_alloc_decompressor();
                if (entry.method == 8
                    && libdeflate_deflate_decompress(d, in.data(), in.size(), out.data(),
                                                     out.size(), nullptr)
                        != LIBDEFLATE_SUCCESS)
                    ++failures;
                libdeflate_free_decompressor(d);
                bytes += out.size();
                continue;
            }
            sd::Error e;
            auto stream = zip.open(entry, &e);
            size_t got = 0;
            while (stream && !(e = stream->read(buf.data(), buf.size(), &got)) && got > 0)
                bytes += got;
            if (!stream || e)
                ++failures;
        }
    }
    const double secs
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-10s %8.3f s  %llu bytes  %llu cells  %d failures\n", mode.c_str(), secs,
                (unsigned long long)bytes, (unsigned long long)cells, failures);
    return failures ? 1 : 0;
}
