// Writes the seed corpus of fuzz/fuzz_crypto.cpp (see its header for the
// layout): FILEPASS payloads of every scheme with a short stream, and small
// encrypted packages with a low spin count, all opened by "password".
//   make_crypto_seeds fuzz/seeds/crypto
#include "crypto/biffcrypt.h"
#include "officeencryptor.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

using namespace officeencryptor;

QByteArray record(int id, const QByteArray &body)
{
    QByteArray r = le32(quint32(id) | (quint32(body.size()) << 16));
    return r + body;
}

// A few records as they follow FILEPASS, encrypted with the decryptor
// itself where that is its own inverse (RC4).
QByteArray stream(const QByteArray &filePass, bool encrypt)
{
    QByteArray s = record(0x00E1, QByteArray("\xb0\x04", 2))
        + record(0x0085, QByteArray("\x40\0\0\0\0\0\5\0Sheet", 13))
        + record(0x0203, QByteArray(14, '\x11')) + record(0x0809, QByteArray(16, '\0'))
        + record(0x000A, QByteArray());
    if (!encrypt)
        return s;
    sd::crypto::CryptoError error;
    auto d = sd::crypto::openFilePass(reinterpret_cast<const uint8_t *>(filePass.constData()),
                                      size_t(filePass.size()), sd::crypto::FilePassLayout::Biff8,
                                      sd::crypto::candidatePasswords({ u"password" }), &error);
    sd::crypto::decryptBiffStream(*d, reinterpret_cast<uint8_t *>(s.data()), size_t(s.size()), 0);
    return s;
}

QByteArray filePassSeed(char kind, const QByteArray &filePass, bool encrypt)
{
    QByteArray size(2, '\0');
    size[0] = char(filePass.size() & 0xFF);
    size[1] = char(filePass.size() >> 8);
    return QByteArray(1, kind) + size + filePass + stream(filePass, encrypt);
}

QByteArray packageSeed(const Encrypted &e)
{
    return QByteArray(1, '\2') + le32(quint32(e.info.size())) + e.info + e.package;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_crypto_seeds DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    QByteArray zip("PK\3\4");
    for (int i = 0; zip.size() < 5000; ++i)
        zip += QByteArray::number(i) + ',';
    AgileOptions aes;
    aes.spinCount = 10;
    AgileOptions des = aes, rc2 = aes, tdes = aes;
    des.cipher = QStringLiteral("DES");
    des.keyBits = 64;
    des.hash = QStringLiteral("MD5");
    des.chaining = QStringLiteral("ChainingModeCFB");
    rc2.cipher = QStringLiteral("RC2");
    rc2.keyBits = 128;
    rc2.hash = QStringLiteral("SHA1");
    tdes.cipher = QStringLiteral("3DES");
    tdes.keyBits = 192;
    tdes.hash = QStringLiteral("SHA384");
    const QList<QPair<QString, QByteArray>> seeds = {
        { "filepass_rc4.bin", filePassSeed(0, rc4FilePass(u"password"), true) },
        { "filepass_cryptoapi40.bin", filePassSeed(0, rc4FilePass(u"password", 40), true) },
        { "filepass_cryptoapi128.bin", filePassSeed(0, rc4FilePass(u"password", 128), true) },
        { "filepass_xor_biff8.bin", filePassSeed(0, xorFilePass("password", true), false) },
        { "filepass_xor_biff5.bin", filePassSeed(1, xorFilePass("password", false), false) },
        { "agile_aes256_sha512.bin", packageSeed(encryptAgile(zip, u"password", aes)) },
        { "agile_des_md5_cfb.bin", packageSeed(encryptAgile(zip, u"password", des)) },
        { "agile_rc2_sha1.bin", packageSeed(encryptAgile(zip, u"password", rc2)) },
        { "agile_3des_sha384.bin", packageSeed(encryptAgile(zip, u"password", tdes)) },
        { "standard_aes128.bin", packageSeed(encryptStandard(zip, u"password")) },
    };
    for (const auto &seed : seeds) {
        QFile f(dir.filePath(seed.first));
        if (!f.open(QIODevice::WriteOnly) || f.write(seed.second) != seed.second.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
            return 1;
        }
    }
    std::printf("%d seeds written to %s\n", int(seeds.size()), argv[1]);
    return 0;
}
