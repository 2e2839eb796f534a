#include "open/openworkbook.h"

#include "core/sheetbudget.h"
#include "crypto/ooxmlcrypt.h"
#include "io/byteorder.h"
#include "io/cfb.h"
#include "io/limits.h"
#include "io/randomaccess.h"
#include "xls/xlsreader.h"
#include "xlsx/xlsxreader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sd {

namespace {

const char kEncryptionInfo[] = "EncryptionInfo";
const char kEncryptedPackage[] = "EncryptedPackage";

// An encrypted OOXML package: the zip is decrypted into memory (never to
// disk) and read like any package. Both streams are read whole, so their
// declared sizes are checked first (a sparse file may declare gigabytes).
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
    const CompoundFile::Entry &infoEntry = cfb.rootEntries()[size_t(infoIndex)];
    const CompoundFile::Entry &packageEntry = cfb.rootEntries()[size_t(packageIndex)];
    if (infoEntry.size > kMaxEncryptionInfoSize) {
        err = limitError(path, kMaxEncryptionInfoSize, "bytes of EncryptionInfo");
        return nullptr;
    }
    if (packageEntry.size > kMaxDecryptedStreamBytes) {
        err = limitError(path, kMaxDecryptedStreamBytes,
                         "bytes in the encrypted package of a protected workbook");
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
    // Paths are the locale's 8-bit bytes, as everywhere in the engine. The
    // file is read where it is needed, never mapped or read whole.
    std::unique_ptr<FileBytes> file = FileBytes::open(path, &err);
    if (!file)
        return nullptr;
    CompoundFile cfb;
    if (!cfb.open(*file)
        && (cfb.findRootEntry(kEncryptionInfo) >= 0 || cfb.findRootEntry(kEncryptedPackage) >= 0))
        return openEncryptedPackage(cfb, path, crypto::candidatePasswords(passwords), err);
    // An .xls workbook (or a damaged file, which the .xls reader reports),
    // its workbook stream read as the reader goes.
    return openXls(path, &err, passwords);
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
