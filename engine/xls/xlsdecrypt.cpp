// Protected workbooks: a FILEPASS record in the globals says how every
// record after it is encrypted. The whole stream is decrypted in place,
// record by record, before the globals pass reads it; the crypto layer
// knows which records and bytes stay clear (BOF, FILEPASS, INTERFACEHDR,
// the substream offsets of BOUNDSHEET, every record header) and keys each
// byte on its position in the stream. The corpus files that show each
// scheme are listed in tests/engine/crypto/tst_cryptocorpus.cpp.
#include "crypto/biffcrypt.h"
#include "xls/xlsreader_p.h"

namespace sd {

using namespace biff;

Error decryptWorkbookStream(std::vector<uint8_t> &stream, BiffInfo &info,
                            const crypto::PasswordList &passwords)
{
    RecordReader rr(stream.data(), stream.size());
    Record r;
    if (!rr.next(r)) // the BOF
        return {};
    while (rr.next(r) && r.id != kEof) {
        if (r.id != kFilePass)
            continue;
        const crypto::FilePassLayout layout
            = info.version == 8 ? crypto::FilePassLayout::Biff8 : crypto::FilePassLayout::Biff2To7;
        crypto::CryptoError error;
        std::unique_ptr<crypto::BiffDecryptor> decryptor = crypto::openFilePass(
            r.data, r.size, layout, crypto::candidatePasswords(passwords), &error);
        if (!decryptor)
            return crypto::asError(error, recordWhere(r));
        crypto::decryptBiffStream(*decryptor, stream.data(), stream.size(), rr.position());
        info.decrypted = true;
        return {};
    }
    return {};
}

} // namespace sd
