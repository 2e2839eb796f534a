#include "xls/xlsreader.h"

#include "io/byteorder.h"
#include "io/cfb.h"
#include "xls/xlsreader_p.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace sd {

using namespace biff;

namespace {

// Lazy per-sheet loading: keeps the workbook stream and each sheet's offset.
class XlsLoader final : public SheetLoader
{
public:
    std::vector<uint8_t> stream;
    BiffInfo info;
    std::vector<size_t> offsets; // parallel to Workbook::sheets
    std::vector<size_t> sortedOffsets;

    Error loadSheet(Workbook &book, int index, Sheet &out) override
    {
        if (index < 0 || size_t(index) >= offsets.size())
            return Error(ErrorCode::Corrupt, {}, "no sheet " + std::to_string(index));
        const SheetKind kind = book.sheets[size_t(index)].kind;
        if (kind == SheetKind::Chart || kind == SheetKind::Module)
            return {}; // no cells
        // The sheet's bytes end where the next sheet starts.
        if (sortedOffsets.size() != offsets.size()) {
            sortedOffsets = offsets;
            std::sort(sortedOffsets.begin(), sortedOffsets.end());
        }
        const size_t pos = offsets[size_t(index)];
        const auto next = std::upper_bound(sortedOffsets.begin(), sortedOffsets.end(), pos);
        const size_t end
            = next == sortedOffsets.end() ? stream.size() : std::min(*next, stream.size());
        XlsSheetParser parser(info, book, out);
        Error e = parser.parse(stream.data(), stream.size(), pos, end - pos);
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
    const unsigned id = head[0] | (head[1] << 8);
    if (id == kBof2 || id == kBof3 || id == kBof4)
        return true;
    // A BIFF5 worksheet BOF at the very start: a worksheet stream some
    // programs write without a compound file.
    return id == kBof && size >= 8 && (head[6] | (head[7] << 8)) == kBofWorksheet;
}

std::unique_ptr<Workbook> openXlsMemory(const uint8_t *data, size_t size, const std::string &name,
                                        Error *error, const crypto::PasswordList &passwords)
{
    auto loader = std::make_unique<XlsLoader>();
    if (hasMagic(data, size, kCfbMagic)) {
        CompoundFile cfb;
        if (Error e = cfb.open(data, size))
            return fail(error, e);
        if (cfb.findRootEntry("EncryptedPackage") >= 0 || cfb.findRootEntry("EncryptionInfo") >= 0)
            return fail(
                error,
                Error(ErrorCode::Encrypted, name, "password-protected Office Open XML package"));
        int index = cfb.findRootEntry("Workbook");
        if (index < 0)
            index = cfb.findRootEntry("Book");
        if (index < 0)
            return fail(
                error,
                Error(ErrorCode::NotAWorkbook, name, "compound file without a Workbook stream"));
        if (Error e = cfb.readStream(cfb.rootEntries()[size_t(index)], loader->stream))
            return fail(error, e);
    } else if (looksLikeBareBiff(data, size)) {
        loader->stream.assign(data, data + size);
    } else {
        return fail(error, Error(ErrorCode::NotAWorkbook, name, "not an Excel workbook"));
    }

    bool bare = false;
    const int version = biffVersion(loader->stream.data(), loader->stream.size(), &bare);
    if (version == 0)
        return fail(error,
                    Error(ErrorCode::NotAWorkbook, name,
                          "the workbook stream does not start with a BOF record"));
    BiffInfo &info = loader->info;
    info.version = version;
    info.bare = bare;
    info.maxRows = version == 8 ? kBiff8MaxRows : kBiff2To7MaxRows;
    info.maxColumns = kBiffMaxColumns;
    if (Error e = decryptWorkbookStream(loader->stream, info, passwords))
        return fail(error, e);

    auto book = std::make_unique<Workbook>();
    XlsGlobalsParser globals(info, *book);
    // Paths are bytes in the locale's encoding; the model holds UTF-8.
    std::string sheetName
        = QFileInfo(QFile::decodeName(name.c_str())).completeBaseName().toStdString();
    if (sheetName.empty())
        sheetName = "Sheet1";
    if (Error e
        = globals.parse(loader->stream.data(), loader->stream.size(), loader->offsets, sheetName))
        return fail(error, e);
    book->loader = std::move(loader);
    return book;
}

std::unique_ptr<Workbook> openXls(const std::string &path, Error *error,
                                  const crypto::PasswordList &passwords)
{
    // The path is bytes in the locale's encoding, as every file name.
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, Error(ErrorCode::CannotOpen, path, file.errorString().toStdString()));
    // Mapping the file saves a copy of it; only the workbook stream is kept.
    const qint64 size = file.size();
    const uchar *mapped = size > 0 ? file.map(0, size) : nullptr;
    QByteArray bytes;
    if (!mapped) {
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fail(error,
                        Error(ErrorCode::CannotOpen, path, file.errorString().toStdString()));
    }
    const uint8_t *data = mapped ? mapped : reinterpret_cast<const uint8_t *>(bytes.constData());
    const size_t length = mapped ? size_t(size) : size_t(bytes.size());
    auto book = openXlsMemory(data, length, path, error, passwords);
    if (mapped)
        file.unmap(const_cast<uchar *>(mapped));
    if (book)
        book->path = path;
    return book;
}

} // namespace sd
