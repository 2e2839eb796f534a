#include "xls/xlsreader.h"

#include "formula/workbookcalc.h"

#include "io/byteorder.h"
#include "io/cfb.h"
#include "io/limits.h"
#include "io/randomaccess.h"
#include "xls/xlsreader_p.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace sd {

using namespace biff;

namespace {

// Lazy per-sheet loading: keeps the workbook stream (read as each sheet
// needs it) and each sheet's offset.
class XlsLoader final : public SheetLoader
{
public:
    std::unique_ptr<RandomAccessSource> file; // what a compound-file stream reads from
    std::unique_ptr<RandomAccessSource> stream; // the workbook stream
    BiffInfo info;
    std::vector<size_t> offsets; // parallel to Workbook::sheets
    std::vector<size_t> sortedOffsets; // set once the globals are read

    // Where the sheet at `pos` ends: where the next sheet starts, or at the
    // end of the stream.
    size_t sheetEnd(size_t pos) const
    {
        const size_t size = size_t(stream->size());
        const auto next = std::upper_bound(sortedOffsets.begin(), sortedOffsets.end(), pos);
        return next == sortedOffsets.end() ? size : std::min(*next, size);
    }
    uint64_t recordBytes = 0; // read so far, against kMaxWorkbookRecordBytes

    bool streams() const override { return true; }
    // Up to the next sheet's BOF, or to the end of the stream.
    uint64_t sheetBytes(int index) const override
    {
        if (index < 0 || size_t(index) >= offsets.size() || !stream)
            return UINT64_MAX;
        const size_t from = offsets[size_t(index)];
        const size_t to = sheetEnd(from);
        return to > from ? to - from : 0;
    }
    uint64_t readingCost() const override { return recordBytes; }
    void refundReading(uint64_t cost) override { recordBytes -= std::min(cost, recordBytes); }

    Error loadSheet(Workbook &book, int index, Sheet &out) override
    {
        if (index < 0 || size_t(index) >= offsets.size())
            return Error(ErrorCode::Corrupt, {}, "no sheet " + std::to_string(index));
        const SheetKind kind = book.sheets[size_t(index)].kind;
        if (kind == SheetKind::Chart || kind == SheetKind::Module)
            return {}; // no cells
        const size_t pos = offsets[size_t(index)];
        const size_t end = sheetEnd(pos);
        XlsSheetParser parser(info, book, out);
        // Sheets may share an offset and be read again and again: the bytes
        // read from the stream are counted over all of them.
        Error e = recordBytes < kMaxWorkbookRecordBytes
            ? parser.parse(*stream, pos, end - std::min(pos, end),
                           kMaxWorkbookRecordBytes - recordBytes)
            : limitError(offsetWhere(pos), kMaxWorkbookRecordBytes,
                         "bytes of records read from one workbook");
        recordBytes += parser.bytesRead();
        if (e)
            e.detail = "sheet \"" + book.sheets[size_t(index)].name + "\": " + e.detail;
        return e;
    }
};

// Version of a stream from its first record; 0 when it is not a BOF.
int biffVersion(const uint8_t *data, size_t size, bool *bare)
{
    *bare = false;
    if (size < 8)
        return 0;
    switch (le16(data)) {
    case kBof2:
        *bare = true;
        return 2;
    case kBof3:
        *bare = true;
        return 3;
    case kBof4:
        *bare = true;
        return 4;
    case kBof: {
        if (le16(data + 2) < 4)
            return 0;
        *bare = le16(data + 6) == kBofWorksheet;
        return le16(data + 4) == kBiff8Version ? 8 : 5;
    }
    default:
        return 0;
    }
}

std::unique_ptr<Workbook> fail(Error *error, Error e)
{
    if (error)
        *error = std::move(e);
    return nullptr;
}

} // namespace

bool looksLikeBareBiff(const unsigned char *head, size_t size)
{
    if (size < 4)
        return false;
    const unsigned id = le16(head);
    if (id == kBof2 || id == kBof3 || id == kBof4)
        return true;
    // A BIFF5 worksheet BOF at the very start: a worksheet stream some
    // programs write without a compound file.
    return id == kBof && size >= 8 && le16(head + 6) == kBofWorksheet;
}

namespace {

// Reads the globals of the loader's workbook stream into a new workbook.
std::unique_ptr<Workbook> readWorkbook(std::unique_ptr<XlsLoader> loader, const std::string &name,
                                       Error *error, const crypto::PasswordList &passwords)
{
    uint8_t head[8] = {};
    const size_t headSize = size_t(std::min<uint64_t>(sizeof head, loader->stream->size()));
    if (Error e = loader->stream->readAt(0, head, headSize))
        return fail(error, e);
    bool bare = false;
    const int version = biffVersion(head, headSize, &bare);
    if (version == 0)
        return fail(error,
                    Error(ErrorCode::NotAWorkbook, name,
                          "the workbook stream does not start with a BOF record"));
    BiffInfo &info = loader->info;
    info.version = version;
    info.bare = bare;
    info.maxRows = version == 8 ? kBiff8MaxRows : kBiff2To7MaxRows;
    info.maxColumns = kBiffMaxColumns;
    // A protected workbook's stream is replaced by its decrypted copy in
    // memory; others go on streaming from the file.
    if (Error e = decryptWorkbookStream(loader->stream, info, passwords))
        return fail(error, e);
    if (info.decrypted)
        loader->file.reset();

    auto book = std::make_unique<Workbook>();
    XlsGlobalsParser globals(info, *book);
    // Paths are bytes in the locale's encoding; the model holds UTF-8.
    std::string sheetName
        = QFileInfo(QFile::decodeName(name.c_str())).completeBaseName().toStdString();
    if (sheetName.empty())
        sheetName = "Sheet1";
    Error e = globals.parse(*loader->stream, loader->offsets, sheetName);
    loader->recordBytes = globals.bytesRead();
    loader->sortedOffsets = loader->offsets;
    std::sort(loader->sortedOffsets.begin(), loader->sortedOffsets.end());
    if (e)
        return fail(error, e);
    book->gridRows = info.maxRows;
    book->gridColumns = info.maxColumns;
    book->loader = std::move(loader);
    formula::installCalculator(*book);
    return book;
}

// The Workbook (or Book) stream of a compound file; nullptr with *error
// set when there is none.
const CompoundFile::Entry *workbookEntry(const CompoundFile &cfb, const std::string &name,
                                         Error *error)
{
    if (cfb.findRootEntry("EncryptedPackage") >= 0 || cfb.findRootEntry("EncryptionInfo") >= 0) {
        fail(error,
             Error(ErrorCode::Encrypted, name, "password-protected Office Open XML package"));
        return nullptr;
    }
    int index = cfb.findRootEntry("Workbook");
    if (index < 0)
        index = cfb.findRootEntry("Book");
    if (index < 0) {
        fail(error,
             Error(ErrorCode::NotAWorkbook, name, "compound file without a Workbook stream"));
        return nullptr;
    }
    return &cfb.rootEntries()[size_t(index)];
}

} // namespace

std::unique_ptr<Workbook> openXlsMemory(const uint8_t *data, size_t size, const std::string &name,
                                        Error *error, const crypto::PasswordList &passwords)
{
    auto loader = std::make_unique<XlsLoader>();
    if (hasMagic(data, size, kCfbMagic)) {
        CompoundFile cfb;
        if (Error e = cfb.open(data, size))
            return fail(error, e);
        const CompoundFile::Entry *entry = workbookEntry(cfb, name, error);
        if (!entry)
            return nullptr;
        std::vector<uint8_t> stream;
        if (Error e = cfb.readStream(*entry, stream))
            return fail(error, e);
        loader->stream = std::make_unique<MemoryBytes>(std::move(stream));
    } else if (looksLikeBareBiff(data, size)) {
        loader->stream = std::make_unique<MemoryBytes>(std::vector<uint8_t>(data, data + size));
    } else {
        return fail(error, Error(ErrorCode::NotAWorkbook, name, "not an Excel workbook"));
    }
    return readWorkbook(std::move(loader), name, error, passwords);
}

std::unique_ptr<Workbook> openXls(const std::string &path, Error *error,
                                  const crypto::PasswordList &passwords)
{
    // The file is read where the reader needs it, never mapped or read
    // whole: a workbook stream of gigabytes costs a window of kilobytes.
    // The path is bytes in the locale's encoding, as every file name, and
    // is opened as such.
    Error e;
    std::unique_ptr<FileBytes> file = FileBytes::open(path, &e);
    if (!file)
        return fail(error, e);
    uint8_t head[8] = {};
    const size_t headSize = size_t(std::min<uint64_t>(sizeof head, file->size()));
    if ((e = file->readAt(0, head, headSize)))
        return fail(error, e);
    auto loader = std::make_unique<XlsLoader>();
    if (hasMagic(head, headSize, kCfbMagic)) {
        CompoundFile cfb;
        if ((e = cfb.open(*file)))
            return fail(error, e);
        const CompoundFile::Entry *entry = workbookEntry(cfb, path, error);
        if (!entry)
            return nullptr;
        loader->stream = cfb.openStream(*entry, &e);
        if (!loader->stream)
            return fail(error, e);
        loader->file = std::move(file);
    } else if (looksLikeBareBiff(head, headSize)) {
        loader->stream = std::move(file);
    } else {
        return fail(error, Error(ErrorCode::NotAWorkbook, path, "not an Excel workbook"));
    }
    auto book = readWorkbook(std::move(loader), path, error, passwords);
    if (book)
        book->path = path;
    return book;
}

} // namespace sd
