// Reader-side figures for the .xlsx benchmark (bench/run_xlsx.sh builds it):
//   xlsxbench inflate FILE...      every part through the reader's own stream
//   xlsxbench zlib[:WIN] FILE...   every part streamed by zlib into a WIN-byte
//                                  output window (default 256 KiB)
//   xlsxbench isal[:WIN] FILE...   the same through ISA-L's isal_inflate
//   xlsxbench libdeflate FILE...   every part whole with libdeflate
//   xlsxbench isalwhole FILE...    every part whole with isal_inflate_stateless
//   xlsxbench read FILE...         open and load every sheet, no CSV writing
// The floors read compressed input in 64 KiB chunks, as the reader does, and
// skip the CRC. Prints the wall time and the bytes or cells handled.
#include "core/model.h"
#include "io/zip.h"
#include "xlsx/xlsxreader.h"

#include <libdeflate.h>
#ifdef XLSXBENCH_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr size_t kInputChunk = 64 * 1024;

struct Totals
{
    uint64_t bytes = 0;
    uint64_t cells = 0;
    int failures = 0;
};

// Reads the compressed bytes of an entry chunk by chunk.
struct Input
{
    sd::ZipArchive &zip;
    const sd::ZipEntry &entry;
    std::string buf = std::string(kInputChunk, '\0');
    uint64_t pos = 0;

    // Next chunk; size 0 at the end, or -1 on a read error.
    long next()
    {
        const size_t n = size_t(std::min<uint64_t>(kInputChunk, entry.compressedSize - pos));
        if (n && !zip.readAt(entry.dataOffset + pos, buf.data(), n))
            return -1;
        pos += n;
        return long(n);
    }
};

bool zlibStream(sd::ZipArchive &zip, const sd::ZipEntry &entry, std::string &window,
                uint64_t &bytes)
{
    z_stream z {};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    Input in { zip, entry };
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.avail_in == 0) {
            const long n = in.next();
            if (n <= 0)
                break;
            z.next_in = reinterpret_cast<Bytef *>(in.buf.data());
            z.avail_in = uInt(n);
        }
        z.next_out = reinterpret_cast<Bytef *>(window.data());
        z.avail_out = uInt(window.size());
        rc = inflate(&z, Z_NO_FLUSH);
        bytes += window.size() - z.avail_out;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

#ifdef XLSXBENCH_HAVE_ISAL
bool isalStream(sd::ZipArchive &zip, const sd::ZipEntry &entry, std::string &window,
                uint64_t &bytes)
{
    auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    Input in { zip, entry };
    while (state->block_state != ISAL_BLOCK_FINISH) {
        if (state->avail_in == 0) {
            const long n = in.next();
            if (n < 0)
                return false;
            state->next_in = reinterpret_cast<uint8_t *>(in.buf.data());
            state->avail_in = uint32_t(n);
        }
        state->next_out = reinterpret_cast<uint8_t *>(window.data());
        state->avail_out = uint32_t(window.size());
        if (isal_inflate(state.get()) != ISAL_DECOMP_OK)
            return false;
        const size_t produced = window.size() - state->avail_out;
        bytes += produced;
        if (produced == 0 && state->avail_in == 0 && in.pos == entry.compressedSize
            && state->block_state != ISAL_BLOCK_FINISH)
            return false; // truncated
    }
    return true;
}

bool isalWhole(const std::string &in, std::string &out)
{
    auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    state->next_in = reinterpret_cast<uint8_t *>(const_cast<char *>(in.data()));
    state->avail_in = uint32_t(in.size());
    state->next_out = reinterpret_cast<uint8_t *>(out.data());
    state->avail_out = uint32_t(out.size());
    return isal_inflate_stateless(state.get()) == ISAL_DECOMP_OK && state->avail_out == 0;
}
#endif

// One part through the floor named by mode; false when it failed.
bool floorPart(const std::string &mode, size_t window, sd::ZipArchive &zip,
               const sd::ZipEntry &entry, uint64_t &bytes)
{
    static std::string out;
    if (mode == "libdeflate" || mode == "isalwhole") {
        std::string in(entry.compressedSize, '\0'), whole(entry.size, '\0');
        if (!zip.readAt(entry.dataOffset, in.data(), in.size()))
            return false;
        bytes += whole.size();
        if (entry.method != 8)
            return true;
        if (mode == "libdeflate") {
            libdeflate_decompressor *d = libdeflate_alloc_decompressor();
            const bool ok = libdeflate_deflate_decompress(d, in.data(), in.size(), whole.data(),
                                                          whole.size(), nullptr)
                == LIBDEFLATE_SUCCESS;
            libdeflate_free_decompressor(d);
            return ok;
        }
#ifdef XLSXBENCH_HAVE_ISAL
        return isalWhole(in, whole);
#endif
    }
    if ((mode == "zlib" || mode == "isal") && entry.method == 8) {
        out.resize(window);
        if (mode == "zlib")
            return zlibStream(zip, entry, out, bytes);
#ifdef XLSXBENCH_HAVE_ISAL
        return isalStream(zip, entry, out, bytes);
#endif
    }
    if (mode != "inflate" && entry.method == 8)
        return false; // a floor this build lacks
    // The reader's own stream (also stored entries of every mode).
    out.resize(1 << 20);
    sd::Error e;
    auto stream = zip.open(entry, &e);
    size_t got = 0;
    while (stream && !(e = stream->read(out.data(), out.size(), &got)) && got > 0)
        bytes += got;
    return stream && !e;
}

void readBook(const char *path, Totals &t)
{
    sd::Error e;
    auto book = sd::openXlsx(path, &e);
    if (!book) {
        std::fprintf(stderr, "%s: %s\n", path, e.description().c_str());
        ++t.failures;
        return;
    }
    for (int s = 0; s < int(book->sheets.size()); ++s) {
        const sd::Sheet *sheet = book->sheet(s, &e);
        if (sheet)
            t.cells += sheet->cells.size();
        else
            ++t.failures;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: xlsxbench inflate|zlib[:WIN]|isal[:WIN]|libdeflate|isalwhole"
                     "|read FILE...\n");
        return 2;
    }
    std::string mode = argv[1];
    size_t window = 256 * 1024;
    if (const size_t colon = mode.find(':'); colon != std::string::npos) {
        window = size_t(std::strtoul(mode.c_str() + colon + 1, nullptr, 10));
        mode.resize(colon);
    }
    const auto start = std::chrono::steady_clock::now();
    Totals t;
    for (int i = 2; i < argc; ++i) {
        if (mode == "read") {
            readBook(argv[i], t);
            continue;
        }
        sd::ZipArchive zip;
        if (sd::Error e = zip.openFile(argv[i])) {
            std::fprintf(stderr, "%s: %s\n", argv[i], e.description().c_str());
            ++t.failures;
            continue;
        }
        for (const sd::ZipEntry &entry : zip.entries()) {
            if (!floorPart(mode, window, zip, entry, t.bytes))
                ++t.failures;
        }
    }
    const double secs
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-10s %8.3f s  %llu bytes  %llu cells  %d failures\n", argv[1], secs,
                (unsigned long long)t.bytes, (unsigned long long)t.cells, t.failures);
    return t.failures ? 1 : 0;
}
