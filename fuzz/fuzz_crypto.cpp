// libFuzzer target for the encryption headers of both formats. The first
// byte picks what the rest is:
//   0, 1  a FILEPASS payload (BIFF8 layout, or BIFF2-7), then a workbook
//         stream to decrypt: [u16 payload size][payload][stream]
//   2     an encrypted package: [u32 EncryptionInfo size][info][package]
// A few passwords are tried, so seeds made with one of them reach the
// decryption itself. Fuzz builds cap the spin count low (kMaxSpinCount, io/limits.h).
#include "crypto/biffcrypt.h"
#include "crypto/ooxmlcrypt.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace sd::crypto;
    if (size < 1)
        return 0;
    const PasswordList passwords = candidatePasswords({ u"password", u"pw" });
    const uint8_t kind = data[0];
    ++data;
    --size;
    if (kind <= 1) {
        if (size < 2)
            return 0;
        const size_t n = data[0] | (data[1] << 8);
        if (n > size - 2)
            return 0;
        CryptoError error;
        auto decryptor = openFilePass(data + 2, n,
                                      kind == 0 ? FilePassLayout::Biff8 : FilePassLayout::Biff2To7,
                                      passwords, &error);
        describeFilePass(data + 2, n, kind == 0 ? FilePassLayout::Biff8 : FilePassLayout::Biff2To7);
        if (decryptor) {
            std::vector<uint8_t> stream(data + 2 + n, data + size);
            decryptBiffStream(*decryptor, stream.data(), stream.size(), 0);
        }
    } else if (kind == 2) {
        if (size < 4)
            return 0;
        const size_t n = size_t(data[0]) | (size_t(data[1]) << 8) | (size_t(data[2]) << 16)
            | (size_t(data[3]) << 24);
        if (n > size - 4)
            return 0;
        Bytes zip;
        describeEncryptionInfo(data + 4, n);
        decryptPackage(data + 4, n, data + 4 + n, size - 4 - n, passwords, zip);
    }
    return 0;
}
