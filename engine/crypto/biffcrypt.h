#pragma once

// Decryption of .xls workbook streams protected through a FILEPASS record.
//
// Three schemes exist: XOR obfuscation (BIFF2-8), RC4 keyed through MD5
// (BIFF8 "standard" encryption, Excel 97/2000) and RC4 keyed through SHA-1
// by the CryptoAPI providers (Excel 2002 and later, 40- to 128-bit keys).
// openFilePass() reads the FILEPASS payload, tries the passwords and returns
// a decryptor for the records that follow.
//
// The keystream of every scheme depends on the absolute position in the
// workbook stream, not on the record: RC4 is keyed afresh for every block of
// 1024 stream bytes (block n = offset / 1024) and runs on through the block,
// and XOR picks its key byte from the offset. So a caller decrypts each piece
// of payload together with the stream offset it came from. What stays clear:
//  - every record header (id and size, four bytes), though the keystream
//    advances over them;
//  - the whole payload of BOF, FILEPASS, INTERFACEHDR, FILELOCK, USREXCL,
//    RRDINFO and RRDHEAD records;
//  - the first four bytes of BOUNDSHEET (lbPlyPos, the substream offset), so
//    that a reader can find the sheets without decrypting.
// decryptBiffRecord() applies these rules to one record and
// decryptBiffStream() to a whole stream.

#include "crypto/cryptoerror.h"
#include "crypto/passwords.h"

#include <memory>

namespace sd {
namespace crypto {

enum class BiffScheme : uint8_t { Xor, Rc4, Rc4CryptoApi };

// "XOR obfuscation", "RC4", "RC4 CryptoAPI"
const char *biffSchemeName(BiffScheme scheme);

// The FILEPASS payload of BIFF8 starts with the scheme type; that of BIFF2-7
// holds only the XOR key and verifier.
enum class FilePassLayout : uint8_t { Biff8, Biff2To7 };

class BiffDecryptor
{
public:
    virtual ~BiffDecryptor() = default;
    virtual BiffScheme scheme() const = 0;
    // Decrypts `size` bytes in place that sit at `offset` in the workbook
    // stream and belong to the payload of a record `recordSize` bytes long
    // (XOR obfuscation keys on it). Pieces may come in any order, though
    // RC4 is fastest front to back.
    virtual void decrypt(uint8_t *data, size_t size, uint64_t offset, size_t recordSize) = 0;
};

// Tries `passwords` in order (candidatePasswords() puts the default one
// first) against the FILEPASS payload. nullptr with *error set when the
// payload is damaged, the scheme unsupported, or no password opens it.
std::unique_ptr<BiffDecryptor> openFilePass(const uint8_t *payload, size_t size,
                                            FilePassLayout layout, const PasswordList &passwords,
                                            CryptoError *error);

// Names the scheme of a FILEPASS payload for messages and dumps, e.g.
// "RC4 CryptoAPI, 128-bit key (Microsoft Enhanced Cryptographic Provider v1.0)".
std::string describeFilePass(const uint8_t *payload, size_t size, FilePassLayout layout);

// Leading payload bytes of a record that stay clear: all of them for the
// records listed above, 4 for BOUNDSHEET, 0 otherwise.
size_t clearPayloadBytes(uint16_t recordId, size_t payloadSize);

// Decrypts one record's payload in place; payloadOffset is the stream offset
// of its first payload byte (the header's offset + 4).
void decryptBiffRecord(BiffDecryptor &decryptor, uint16_t recordId, uint8_t *payload,
                       size_t payloadSize, uint64_t payloadOffset);

// Decrypts in place every record of `stream` from the record header at
// `from` (the one after FILEPASS) to the end. A record cut short by the end
// of the stream is decrypted as far as it goes.
void decryptBiffStream(BiffDecryptor &decryptor, uint8_t *stream, size_t size, size_t from);

} // namespace crypto
} // namespace sd
