#include "open/openworkbook.h"

#include "crypto/ooxmlcrypt.h"
#include "io/byteorder.h"
#include "io/cfb.h"
#include "xls/xlsreader.h"
#include "xlsx/xlsxreader.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sd {

namespace {

const char kEncryptionInfo[] = "EncryptionInfo";
const char kEncryptedPackage[] = "EncryptedPackage";

// An encrypted OOXML package: the zip is decrypted into memory (never to
// disk) and read like any package.
std::unique_ptr<Workbook> openEncryptedPackage(const CompoundFile &cfb, const std::string &path,
                                               const crypto::PasswordList &passwords, Error &err)
{
    const int infoIndex = cfb.findRootEntry(kEncryptionInfo);
    const int packageIndex = cfb.findRootEntry(kEncryptedPackage);
    if (infoIndex < 0 || packageIndex < 0) {
        err = Error(ErrorCode::Corrupt, path,
                    infoIndex < 0 ? "EncryptedPackage without EncryptionInfo"
                                  : "EncryptionInfo without EncryptedPackage");
        return nullptr;
    }
    std::vector<uint8_t> info, package;
    if ((err = cfb.readStream(cfb.rootEntries()[size_t(infoIndex)], info))
        || (err = cfb.readStream(cfb.rootEntries()[size_t(packageIndex)], package)))
        return nullptr;
    crypto::Bytes zip;
    const crypto::CryptoError e = crypto::decryptPackage(info.data(), info.size(), package.data(),
                                                         package.size(), passwords, zip);
    if (e) {
        err = crypto::asError(e, path);
        return nullptr;
    }
    std::vector<uint8_t>().swap(package);
    std::unique_ptr<Workbook> book = openXlsxBuffer(zip.data(), zip.size(), &err);
    crypto::wipe(zip);
    return book;
}

// A compound file: an .xls workbook, or an encrypted OOXML package.
std::unique_ptr<Workbook> openCompoundFile(const std::string &path,
                                           const crypto::PasswordList &passwords, Error &err)
{
    // Paths are the locale's 8-bit bytes, as everywhere in the engine.
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly)) {
        err = Error(ErrorCode::CannotOpen, path, file.errorString().toStdString());
        return nullptr;
    }
    const qint64 size = file.size();
    const uchar *mapped = size > 0 ? file.map(0, size) : nullptr;
    QByteArray bytes;
    if (!mapped) {
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            err = Error(ErrorCode::CannotOpen, path, file.errorString().toStdString());
            return nullptr;
        }
    }
    const uint8_t *data = mapped ? mapped : reinterpret_cast<const uint8_t *>(bytes.constData());
    const size_t length = mapped ? size_t(size) : size_t(bytes.size());
    std::unique_ptr<Workbook> book;
    CompoundFile cfb;
    if (!cfb.open(data, length)
        && (cfb.findRootEntry(kEncryptionInfo) >= 0 || cfb.findRootEntry(kEncryptedPackage) >= 0))
        book = openEncryptedPackage(cfb, path, crypto::candidatePasswords(passwords), err);
    else
        book = openXlsMemory(data, length, path, &err, passwords);
    if (mapped)
        file.unmap(const_cast<uchar *>(mapped));
    return book;
}

} // namespace

std::unique_ptr<Workbook> openWorkbook(const std::string &path, Error *error,
                                       const crypto::PasswordList &passwords)
{
    Error dummy;
    Error &err = error ? *error : dummy;
    err = Error();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        err = Error(ErrorCode::CannotOpen, path, std::strerror(errno));
        return nullptr;
    }
    unsigned char magic[8] = {};
    size_t n = std::fread(magic, 1, sizeof magic, f);
    std::fclose(f);

    std::unique_ptr<Workbook> book;
    if (hasMagic(magic, n, kZipMagic))
        book = openXlsx(path, &err);
    else if (hasMagic(magic, n, kCfbMagic))
        book = openCompoundFile(path, passwords, err);
    else if (looksLikeBareBiff(magic, n))
        book = openXls(path, &err, passwords);
    else
        err = Error(ErrorCode::NotAWorkbook, path, "not an Excel workbook");
    if (book)
        book->path = path;
    return book;
}

// The model's spelling, kept for callers that name the class.
std::unique_ptr<Workbook> Workbook::open(const std::string &path, Error *error)
{
    return openWorkbook(path, error);
}

} // namespace sd
