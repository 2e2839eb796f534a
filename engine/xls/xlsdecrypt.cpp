// Protected workbooks: a FILEPASS record in the globals says how every
// record after it is encrypted. Each byte is keyed on its position in the
// stream (RC4 re-keys every 1,024 bytes of it), so the stream is not
// streamed through a window as an unprotected one is: it is read whole into
// memory (up to kMaxDecryptedStreamBytes, io/limits.h) and decrypted in
// place, record by record, before the globals pass reads it; the crypto
// layer knows which records and bytes stay clear (BOF, FILEPASS,
// INTERFACEHDR, the substream offsets of BOUNDSHEET, every record header).
// The corpus files that show each scheme are listed in
// tests/engine/crypto/tst_cryptocorpus.cpp.
#include "core/sheetbudget.h"
#include "crypto/biffcrypt.h"
#include "io/limits.h"
#include "xls/xlsreader_p.h"

namespace sd {

using namespace biff;

Error decryptWorkbookStream(std::unique_ptr<RandomAccessSource> &stream, BiffInfo &info,
                            const crypto::PasswordList &passwords)
{
    RecordReader rr(*stream);
    rr.setLimits(kMaxSubstreamRecords, kMaxWorkbookRecordBytes);
    Record r;
    if (!rr.next(r)) // the BOF
        return {};
    // A globals substream the reader cannot get through is reported by the
    // globals pass, which reads it with the same limits.
    while (rr.next(r) && r.id != kEof) {
        if (r.id != kFilePass)
            continue;
        const uint64_t size = stream->size();
        if (size > kMaxDecryptedStreamBytes)
            return limitError(recordWhere(r), kMaxDecryptedStreamBytes,
                              "bytes in the workbook stream of a protected workbook");
        const crypto::FilePassLayout layout
            = info.version == 8 ? crypto::FilePassLayout::Biff8 : crypto::FilePassLayout::Biff2To7;
        crypto::CryptoError error;
        std::unique_ptr<crypto::BiffDecryptor> decryptor = crypto::openFilePass(
            r.data, r.size, layout, crypto::candidatePasswords(passwords), &error);
        if (!decryptor)
            return crypto::asError(error, recordWhere(r));
        const size_t from = rr.position();
        std::vector<uint8_t> bytes(size_t(size), 0);
        if (Error e = stream->readAt(0, bytes.data(), bytes.size()))
            return e;
        crypto::decryptBiffStream(*decryptor, bytes.data(), bytes.size(), from);
        stream = std::make_unique<MemoryBytes>(std::move(bytes));
        info.decrypted = true;
        return {};
    }
    return {};
}

} // namespace sd
