// Known-answer tests of the ciphers and key derivations (the expected values
// come from other implementations: FIPS-197, RFC 2268, Python's hashlib and
// cryptography), the .xls stream rules, and round trips and refusals of
// encrypted packages written by the test encryptor.
#include "crypto/biffcrypt.h"
#include "crypto/biffcrypt_p.h"
#include "crypto/ooxmlcrypt_p.h"
#include "officeencryptor.h"

#include <QtTest>

#include <algorithm>
#include <random>

using namespace sd::crypto;
using officeencryptor::rc4FilePass;
using officeencryptor::xorFilePass;

namespace {

Bytes hex(const char *text)
{
    const QByteArray b = QByteArray::fromHex(text);
    return Bytes(b.begin(), b.end());
}

Bytes bytes(const QByteArray &b)
{
    return Bytes(b.begin(), b.end());
}

QByteArray toHex(const Bytes &b)
{
    return officeencryptor::toQByteArray(b).toHex();
}

Bytes counting(size_t n, uint8_t from = 0)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = uint8_t(from + i);
    return out;
}

const QByteArray kLe16Password = QByteArray("p\0a\0s\0s\0w\0o\0r\0d\0", 16);

std::unique_ptr<BiffDecryptor> open8(const QByteArray &filePass, const PasswordList &passwords,
                                     CryptoError *error)
{
    return openFilePass(reinterpret_cast<const uint8_t *>(filePass.constData()),
                        size_t(filePass.size()), FilePassLayout::Biff8, passwords, error);
}

QByteArray record(int id, const QByteArray &body)
{
    QByteArray r(4, '\0');
    r[0] = char(id & 0xFF);
    r[1] = char(id >> 8);
    r[2] = char(body.size() & 0xFF);
    r[3] = char(body.size() >> 8);
    return r + body;
}

const QByteArray kZip = [] {
    QByteArray z("PK\3\4");
    for (int i = 0; z.size() < 10007; ++i)
        z += QByteArray::number(i * 7919) + ',';
    return z;
}();

CryptoError decrypt(const officeencryptor::Encrypted &e, const PasswordList &passwords, Bytes &zip)
{
    return decryptPackage(reinterpret_cast<const uint8_t *>(e.info.constData()),
                          size_t(e.info.size()),
                          reinterpret_cast<const uint8_t *>(e.package.constData()),
                          size_t(e.package.size()), candidatePasswords(passwords), zip);
}

} // namespace

class TestCrypto : public QObject
{
    Q_OBJECT

private slots:
    void ciphers_data();
    void ciphers();
    void rc4AndHmac();
    void derivations_data();
    void derivations();
    void xorObfuscation();
    void passwordForms_data();
    void passwordForms();
    void candidates();
    void biffOpen_data();
    void biffOpen();
    void biffKeystreamFollowsPosition_data();
    void biffKeystreamFollowsPosition();
    void biffClearRecords();
    void filePassRefusals_data();
    void filePassRefusals();
    void packageRoundTrip_data();
    void packageRoundTrip();
    void packageRefusals_data();
    void packageRefusals();
    void damagedPackage_data();
    void damagedPackage();
};

void TestCrypto::ciphers_data()
{
    QTest::addColumn<int>("cipher");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("iv");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("encrypted");
    const int aes = int(CipherAlgorithm::Aes), ecb = int(ChainingMode::Ecb),
              cbc = int(ChainingMode::Cbc), cfb = int(ChainingMode::Cfb8);
    QTest::newRow("AES-128 ECB (FIPS-197)")
        << aes << ecb << QByteArray("000102030405060708090a0b0c0d0e0f") << QByteArray()
        << QByteArray("00112233445566778899aabbccddeeff")
        << QByteArray("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("AES-256 ECB (FIPS-197)")
        << aes << ecb
        << QByteArray("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")
        << QByteArray() << QByteArray("00112233445566778899aabbccddeeff")
        << QByteArray("8ea2b7ca516745bfeafc49904b496089");
    QTest::newRow("AES-192 CBC")
        << aes << cbc << QByteArray("000102030405060708090a0b0c0d0e0f1011121314151617")
        << QByteArray("101112131415161718191a1b1c1d1e1f")
        << QByteArray("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")
        << QByteArray("3fe7286abde5f03943d5777020259626f7a43626455133f50664fa760ae36984");
    QTest::newRow("AES-128 CFB8, not a whole block")
        << aes << cfb << QByteArray("000102030405060708090a0b0c0d0e0f")
        << QByteArray("101112131415161718191a1b1c1d1e1f")
        << QByteArray("The quick brown fox jumps").toHex()
        << QByteArray("53fd47a8903d40f8126a3bfa61ed26b32651cc727abb8253f4");
    QTest::newRow("DES ECB") << int(CipherAlgorithm::Des) << ecb << QByteArray("133457799bbcdff1")
                             << QByteArray() << QByteArray("0123456789abcdef")
                             << QByteArray("85e813540f0ab405");
    QTest::newRow("3DES CBC, three keys")
        << int(CipherAlgorithm::TripleDes) << cbc
        << QByteArray("000102030405060708090a0b0c0d0e0f1011121314151617")
        << QByteArray("0001020304050607") << QByteArray("sixteen byte msg").toHex()
        << QByteArray("53dd65377de16c431eeed0effbff6072");
    QTest::newRow("3DES ECB, two keys")
        << int(CipherAlgorithm::TripleDes) << ecb << QByteArray("000102030405060708090a0b0c0d0e0f")
        << QByteArray() << QByteArray("sixteen byte msg").toHex()
        << QByteArray("f5ed19db0a7ea080b6e6e1fc8bb92185");
    QTest::newRow("RC2 ECB (RFC 2268)")
        << int(CipherAlgorithm::Rc2) << ecb << QByteArray("88bca90e90875a7f0f79c384627bafb2")
        << QByteArray() << QByteArray("0000000000000000") << QByteArray("2269552ab0f85ca6");
}

void TestCrypto::ciphers()
{
    QFETCH(int, cipher);
    QFETCH(int, mode);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, iv);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, encrypted);
    BlockCipher c;
    QVERIFY(c.setKey(CipherAlgorithm(cipher), hex(key)));
    const Bytes ivBytes = hex(iv);
    Bytes data = hex(plain);
    c.encrypt(ChainingMode(mode), ivBytes.empty() ? nullptr : ivBytes.data(), data.data(),
              data.size());
    QCOMPARE(toHex(data), encrypted);
    c.decrypt(ChainingMode(mode), ivBytes.empty() ? nullptr : ivBytes.data(), data.data(),
              data.size());
    QCOMPARE(toHex(data), plain);
    // A key of the wrong length is refused, not truncated.
    Bytes shortKey = hex(key);
    shortKey.pop_back();
    QVERIFY(!c.setKey(CipherAlgorithm(cipher), shortKey) || cipher == int(CipherAlgorithm::Rc2));
}

void TestCrypto::rc4AndHmac()
{
    Rc4 rc4;
    rc4.setKey(reinterpret_cast<const uint8_t *>("Key"), 3);
    Bytes text = bytes("Plaintext");
    rc4.apply(text.data(), text.size());
    QCOMPARE(toHex(text), QByteArray("bbf316e8d940af0ad3"));
    // Skipping is the same as applying to bytes thrown away.
    Bytes stream(300, 0), tail(40, 0);
    rc4.setKey(reinterpret_cast<const uint8_t *>("Key"), 3);
    rc4.apply(stream.data(), stream.size());
    rc4.setKey(reinterpret_cast<const uint8_t *>("Key"), 3);
    rc4.skip(260);
    rc4.apply(tail.data(), tail.size());
    QVERIFY(std::equal(tail.begin(), tail.end(), stream.begin() + 260));

    const QByteArray msg("The quick brown fox jumps over the lazy dog");
    QCOMPARE(toHex(hmac(HashAlgorithm::Sha384, bytes("key"),
                        reinterpret_cast<const uint8_t *>(msg.constData()), size_t(msg.size()))),
             QByteArray("d7f4727e2c0b39ae0f1e40cc96f60242d5b7801841cea6fc592c5d3e1ae50700582a9"
                        "6cf35e1e554995fe4e03381c237"));
}

void TestCrypto::derivations_data()
{
    QTest::addColumn<QByteArray>("derived");
    QTest::addColumn<QByteArray>("expected");
    const Bytes salt = counting(16);
    const Bytes password = bytes(kLe16Password);
    const Bytes base = rc4StandardKeyBase(password, salt);
    uint8_t key[16];
    QTest::newRow("RC4: 40-bit base") << toHex(base) << QByteArray("67616b45c6");
    rc4StandardBlockKey(base, 0, key);
    QTest::newRow("RC4: block 0") << toHex(Bytes(key, key + 16))
                                  << QByteArray("d17084ef80dfaade760e9be2fe9b8d19");
    rc4StandardBlockKey(base, 7, key);
    QTest::newRow("RC4: block 7") << toHex(Bytes(key, key + 16))
                                  << QByteArray("b870e24c345fd68090f4df9f322deabf");
    const Bytes apiBase = digest(HashAlgorithm::Sha1, salt, password);
    QTest::newRow("CryptoAPI: 128-bit key of block 3")
        << toHex(rc4CryptoApiBlockKey(apiBase, 3, 128))
        << QByteArray("66c8a31c6640e7f00c096ca7d65c692a");
    QTest::newRow("CryptoAPI: 40-bit key, zero-filled to 128 bits")
        << toHex(rc4CryptoApiBlockKey(apiBase, 3, 40))
        << QByteArray("66c8a31c660000000000000000000000");
    QTest::newRow("Agile: SHA-512, 1000 spins")
        << toHex(agileHashPassword(HashAlgorithm::Sha512, salt, password, 1000))
        << QByteArray("1676eb55e5d4afce0525fa02c4537baa4558e70f6699e737e0630a95b1a091c08d7"
                      "27c59f05288e27f48a36dd99308eb890bb3d1e0735d4f7c7a3def371ba88b");
    QTest::newRow("Agile: no spins is H(salt, password)")
        << toHex(agileHashPassword(HashAlgorithm::Sha1, salt, password, 0)) << toHex(apiBase);
    QTest::newRow("Agile: derived key padded with 0x36")
        << toHex(agileDerive(HashAlgorithm::Sha1, salt, kBlockKeyEncryptedKey, 8, 24)).right(8)
        << QByteArray("36363636");
    QTest::newRow("Standard: AES-128 key") << toHex(standardKey(salt, password, 128))
                                           << QByteArray("de5451b9dc3fcb383792cbeec80b6bc3");
    QTest::newRow("Standard: AES-256 key")
        << toHex(standardKey(salt, password, 256))
        << QByteArray("de5451b9dc3fcb383792cbeec80b6bc30795c2705e075039407199f7d299b6e4");
}

void TestCrypto::derivations()
{
    QFETCH(QByteArray, derived);
    QTEST(derived, "expected");
}

// "password" as Excel 2002 stored it in sheetjs/password_2002_40_xor.xls:
// key 0x147A, verifier 0x83AF; the array as the pseudo-code of the format
// description computes it.
void TestCrypto::xorObfuscation()
{
    const Bytes password = bytes("password");
    QCOMPARE(xorKey(password), uint16_t(0x147A));
    QCOMPARE(xorPasswordVerifier(password), uint16_t(0x83AF));
    const auto array = xorArray(password, 0x147A);
    QCOMPARE(toHex(Bytes(array.begin(), array.end())),
             QByteArray("05ba84b386bd0438e0f5c257c2f5e14a"));
    const auto odd = xorArray(bytes("abc"), 0x1234);
    QCOMPARE(toHex(Bytes(odd.begin(), odd.end())), QByteArray("aa38abd4e5f647f6e5d55a09458e1ad6"));
    QCOMPARE(xorKey(Bytes(16, 'a')), uint16_t(0)); // longer than the format allows
}

void TestCrypto::passwordForms_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArrayList>("forms");
    QTest::newRow("ASCII") << QStringLiteral("password") << QByteArrayList { "password" };
    QTest::newRow("Latin-1") << QString::fromUtf8("pässwörd")
                             << QByteArrayList { QByteArray("p\xe4ssw\xf6rd") };
    QTest::newRow("euro: low byte, then Windows-1252") << QString::fromUtf8("€uro")
                                                       << QByteArrayList { "\xac"
                                                                           "uro",
                                                                           "\x80"
                                                                           "uro" };
    QTest::newRow("low byte 0 gives the high byte")
        << QString(QChar(0x0100)) << QByteArrayList { "\x01", "?" };
    QTest::newRow("cut to 15") << QStringLiteral("0123456789abcdefgh")
                               << QByteArrayList { "0123456789abcde" };
}

void TestCrypto::passwordForms()
{
    QFETCH(QString, password);
    QFETCH(QByteArrayList, forms);
    QByteArrayList actual;
    for (const Bytes &form : xorPasswordForms(password.toStdU16String()))
        actual << officeencryptor::toQByteArray(form);
    QCOMPARE(actual, forms);
    QCOMPARE(officeencryptor::toQByteArray(utf16le(u"pw")), QByteArray("p\0w\0", 4));
}

void TestCrypto::candidates()
{
    const std::u16string tooLong(kMaxPasswordLength + 1, u'x');
    const PasswordList list
        = candidatePasswords({ u"a", kDefaultPassword, u"", u"a", tooLong, u"b" });
    QCOMPARE(list, (PasswordList { kDefaultPassword, u"a", u"", u"b" }));
    QCOMPARE(candidatePasswords({}), PasswordList { kDefaultPassword });
}

void TestCrypto::biffOpen_data()
{
    QTest::addColumn<QByteArray>("filePass");
    QTest::addColumn<bool>("biff8");
    QTest::addColumn<QStringList>("passwords");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("scheme");
    const QString def = QString::fromStdU16String(kDefaultPassword);
    const int ok = int(CryptoStatus::Ok), needed = int(CryptoStatus::PasswordNeeded);
    const int rc4 = int(BiffScheme::Rc4), api = int(BiffScheme::Rc4CryptoApi),
              xorScheme = int(BiffScheme::Xor);
    QTest::newRow("RC4, default password, no list")
        << rc4FilePass(kDefaultPassword) << true << QStringList() << ok << rc4;
    QTest::newRow("RC4, the second password")
        << rc4FilePass(u"secret") << true << QStringList { "wrong", "secret" } << ok << rc4;
    QTest::newRow("RC4, case matters")
        << rc4FilePass(u"secret") << true << QStringList { "Secret" } << needed << rc4;
    QTest::newRow("CryptoAPI 40-bit")
        << rc4FilePass(u"11", 40) << true << QStringList { "11" } << ok << api;
    QTest::newRow("CryptoAPI 128-bit, non-ASCII")
        << rc4FilePass(u"\u00e9t\u00e9", 128) << true << QStringList { QString::fromUtf8("été") }
        << ok << api;
    QTest::newRow("CryptoAPI 56-bit, wrong")
        << rc4FilePass(u"x", 56) << true << QStringList { "y" } << needed << api;
    QTest::newRow("XOR, BIFF8") << xorFilePass("secret", true) << true << QStringList { "secret" }
                                << ok << xorScheme;
    QTest::newRow("XOR, BIFF5, default password")
        << xorFilePass("VelvetSweatshop", false) << false << QStringList() << ok << xorScheme;
    QTest::newRow("XOR, wrong") << xorFilePass("secret", false) << false
                                << QStringList { "secrets", def } << needed << xorScheme;
}

void TestCrypto::biffOpen()
{
    QFETCH(QByteArray, filePass);
    QFETCH(bool, biff8);
    QFETCH(QStringList, passwords);
    QFETCH(int, status);
    PasswordList user;
    for (const QString &p : passwords)
        user.push_back(p.toStdU16String());
    CryptoError error;
    auto d = openFilePass(
        reinterpret_cast<const uint8_t *>(filePass.constData()), size_t(filePass.size()),
        biff8 ? FilePassLayout::Biff8 : FilePassLayout::Biff2To7, candidatePasswords(user), &error);
    QCOMPARE(int(error.status), status);
    QCOMPARE(bool(d), status == int(CryptoStatus::Ok));
    if (d)
        QTEST(int(d->scheme()), "scheme");
    else
        QVERIFY(!error.description().empty());
}

void TestCrypto::biffKeystreamFollowsPosition_data()
{
    QTest::addColumn<QByteArray>("filePass");
    QTest::newRow("RC4") << rc4FilePass(u"pw");
    QTest::newRow("CryptoAPI 40-bit") << rc4FilePass(u"pw", 40);
    QTest::newRow("XOR") << xorFilePass("pw", true);
}

// Decrypting a stretch piece by piece, in any order, gives what decrypting
// it at once gives: the keystream depends on the position alone.
void TestCrypto::biffKeystreamFollowsPosition()
{
    QFETCH(QByteArray, filePass);
    CryptoError error;
    auto whole = open8(filePass, candidatePasswords({ u"pw" }), &error);
    auto pieces = open8(filePass, candidatePasswords({ u"pw" }), &error);
    QVERIFY(whole && pieces);
    const size_t start = 1000, size = 5000, recordSize = 8224;
    Bytes expected(size, 0x5A), actual(size, 0x5A);
    whole->decrypt(expected.data(), size, start, recordSize);
    std::vector<std::pair<size_t, size_t>> cuts;
    for (size_t at = 0; at < size;) {
        const size_t n = std::min<size_t>(size - at, 1 + (at * 7919) % 700);
        cuts.push_back({ at, n });
        at += n;
    }
    std::shuffle(cuts.begin(), cuts.end(), std::mt19937(7));
    for (const auto &c : cuts)
        pieces->decrypt(actual.data() + c.first, c.second, start + c.first, recordSize);
    QVERIFY(actual == expected);
    QVERIFY(expected != Bytes(size, 0x5A));
}

void TestCrypto::biffClearRecords()
{
    QByteArray filePassBody = rc4FilePass(u"pw");
    const QByteArray bof = record(0x0809, QByteArray(16, 'B'));
    const QByteArray head = bof + record(0x002F, filePassBody);
    const QByteArray interfaceHdr = record(0x00E1, QByteArray("\xb0\x04", 2));
    const QByteArray boundSheet = record(0x0085, QByteArray("\x10\x20\x30\x40\0\0\3\0abc", 11));
    const QByteArray number = record(0x0203, QByteArray(14, 'N'));
    const QByteArray sheetBof = record(0x0809, QByteArray(16, 'S'));
    QByteArray stream = head + interfaceHdr + boundSheet + number + sheetBof;
    stream += QByteArray("\x03\x02\x64\x00NNNNNN", 10); // a record cut short
    Bytes data = bytes(stream);
    CryptoError error;
    auto d = open8(filePassBody, candidatePasswords({ u"pw" }), &error);
    QVERIFY(d);
    decryptBiffStream(*d, data.data(), data.size(), size_t(head.size()));
    const QByteArray out = officeencryptor::toQByteArray(data);

    int at = head.size();
    QCOMPARE(out.left(at), head);
    QCOMPARE(out.mid(at, interfaceHdr.size()), interfaceHdr);
    at += interfaceHdr.size();
    QCOMPARE(out.mid(at, 8), boundSheet.left(8)); // header and lbPlyPos
    QVERIFY(out.mid(at + 8, 7) != boundSheet.mid(8));
    at += boundSheet.size();
    QCOMPARE(out.mid(at, 4), number.left(4));
    QVERIFY(out.mid(at + 4, 14) != number.mid(4));
    at += number.size();
    QCOMPARE(out.mid(at, sheetBof.size()), sheetBof);
    at += sheetBof.size();
    QCOMPARE(out.mid(at, 4), stream.mid(at, 4));
    QVERIFY(out.mid(at + 4) != stream.mid(at + 4));
    QCOMPARE(clearPayloadBytes(0x0085, 2), size_t(2));
}

void TestCrypto::filePassRefusals_data()
{
    QTest::addColumn<QByteArray>("filePass");
    QTest::addColumn<bool>("biff8");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail");
    using officeencryptor::le32;
    const int malformed = int(CryptoStatus::Malformed);
    const QByteArray api = rc4FilePass(u"pw", 128);
    QTest::newRow("empty") << QByteArray() << true << malformed << "cut short";
    QTest::newRow("XOR without verifier") << QByteArray(3, '\0') << true << malformed << "XOR";
    QTest::newRow("BIFF5 XOR of 3 bytes") << QByteArray(3, '\0') << false << malformed << "XOR";
    QTest::newRow("RC4 cut short") << rc4FilePass(u"pw").left(40) << true << malformed << "RC4";
    QTest::newRow("scheme 2") << QByteArray("\2\0\0\0", 4) << true << int(CryptoStatus::Unsupported)
                              << "scheme 2";
    QTest::newRow("RC4 version 5.2") << QByteArray("\1\0\5\0\2\0", 6) + api.mid(6) << true
                                     << int(CryptoStatus::Unsupported) << "version 5.2";
    QTest::newRow("CryptoAPI header size past the end")
        << api.left(10) + le32(5000) + api.mid(14) << true << malformed << "header size";
    QByteArray aes = api;
    aes.replace(22, 4, le32(kAlgAes128));
    QTest::newRow("CryptoAPI with AES")
        << aes << true << int(CryptoStatus::Unsupported) << "AES-128";
    QByteArray bits = api;
    bits.replace(30, 4, le32(256));
    QTest::newRow("CryptoAPI 256-bit RC4")
        << bits << true << int(CryptoStatus::OutOfBounds) << "256 bits";
    QByteArray salt = api;
    salt.replace(api.size() - 4 - 20 - 16 - 16 - 4, 4, le32(32));
    QTest::newRow("CryptoAPI salt of 32")
        << salt << true << int(CryptoStatus::OutOfBounds) << "salt";
    QTest::newRow("CryptoAPI verifier cut short")
        << api.left(api.size() - 1) << true << malformed << "verifier";
}

void TestCrypto::filePassRefusals()
{
    QFETCH(QByteArray, filePass);
    QFETCH(bool, biff8);
    QFETCH(int, status);
    QFETCH(QString, detail);
    CryptoError error;
    QVERIFY(!openFilePass(reinterpret_cast<const uint8_t *>(filePass.constData()),
                          size_t(filePass.size()),
                          biff8 ? FilePassLayout::Biff8 : FilePassLayout::Biff2To7,
                          candidatePasswords({ u"pw" }), &error));
    QCOMPARE(int(error.status), status);
    QVERIFY2(QString::fromStdString(error.detail).contains(detail), error.detail.c_str());
}

void TestCrypto::packageRoundTrip_data()
{
    QTest::addColumn<QString>("cipher");
    QTest::addColumn<int>("keyBits");
    QTest::addColumn<QString>("hash");
    QTest::addColumn<QString>("chaining");
    QTest::addColumn<bool>("integrity");
    const QString cbc = QStringLiteral("ChainingModeCBC"), cfb = QStringLiteral("ChainingModeCFB");
    QTest::newRow("Agile AES-256 SHA-512") << "AES" << 256 << "SHA512" << cbc << true;
    QTest::newRow("Agile AES-192 SHA-384") << "AES" << 192 << "SHA384" << cbc << true;
    QTest::newRow("Agile AES-128 SHA-256 CFB") << "AES" << 128 << "SHA256" << cfb << true;
    QTest::newRow("Agile AES-128 SHA-1, no integrity") << "AES" << 128 << "SHA1" << cbc << false;
    QTest::newRow("Agile DES MD5") << "DES" << 64 << "MD5" << cbc << true;
    QTest::newRow("Agile 3DES SHA-384") << "3DES" << 192 << "SHA384" << cbc << true;
    QTest::newRow("Agile RC2 SHA-1") << "RC2" << 128 << "SHA1" << cbc << true;
    QTest::newRow("Standard AES-128") << "Standard" << 128 << ""
                                      << "" << false;
    QTest::newRow("Standard AES-256") << "Standard" << 256 << ""
                                      << "" << false;
}

void TestCrypto::packageRoundTrip()
{
    QFETCH(QString, cipher);
    QFETCH(int, keyBits);
    officeencryptor::Encrypted e;
    if (cipher == QLatin1String("Standard")) {
        e = officeencryptor::encryptStandard(kZip, u"s\u00e9same", keyBits);
    } else {
        officeencryptor::AgileOptions options;
        options.cipher = cipher;
        options.keyBits = keyBits;
        QFETCH(QString, hash);
        QFETCH(QString, chaining);
        QFETCH(bool, integrity);
        options.hash = hash;
        options.chaining = chaining;
        options.integrity = integrity;
        options.spinCount = 1000;
        e = officeencryptor::encryptAgile(kZip, u"s\u00e9same", options);
    }
    Bytes zip;
    CryptoError error = decrypt(e, { u"first", u"s\u00e9same" }, zip);
    QVERIFY2(!error, error.description().c_str());
    QCOMPARE(officeencryptor::toQByteArray(zip), kZip);
    error = decrypt(e, { u"sesame", u"S\u00e9same" }, zip);
    QCOMPARE(int(error.status), int(CryptoStatus::PasswordNeeded));
    QVERIFY(zip.empty());
}

void TestCrypto::packageRefusals_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail");
    const int unsupported = int(CryptoStatus::Unsupported), bounds = int(CryptoStatus::OutOfBounds),
              malformed = int(CryptoStatus::Malformed);
    QTest::newRow("spin count above the bound")
        << QByteArray("spinCount=\"1000\"") << QByteArray("spinCount=\"10000001\"") << bounds
        << "spin count 10000001";
    QTest::newRow("spin count past 32 bits")
        << QByteArray("spinCount=\"1000\"") << QByteArray("spinCount=\"99999999999\"") << malformed
        << "spinCount";
    QTest::newRow("AES key of 100 bits")
        << QByteArray("keyBits=\"256\"") << QByteArray("keyBits=\"100\"") << bounds << "100 bits";
    QTest::newRow("DESX") << QByteArray("cipherAlgorithm=\"AES\"")
                          << QByteArray("cipherAlgorithm=\"DESX\"") << unsupported << "DESX";
    QTest::newRow("RC4 in Agile") << QByteArray("cipherAlgorithm=\"AES\"")
                                  << QByteArray("cipherAlgorithm=\"RC4\"") << unsupported << "RC4";
    QTest::newRow("WHIRLPOOL") << QByteArray("hashAlgorithm=\"SHA512\"")
                               << QByteArray("hashAlgorithm=\"WHIRLPOOL\"") << unsupported
                               << "WHIRLPOOL";
    QTest::newRow("ECB chaining") << QByteArray("ChainingModeCBC") << QByteArray("ChainingModeECB")
                                  << unsupported << "ChainingModeECB";
    QTest::newRow("hash size that is not SHA-512's")
        << QByteArray("hashSize=\"64\"") << QByteArray("hashSize=\"20\"") << bounds << "hash size";
    QTest::newRow("AES with 8-byte blocks")
        << QByteArray("blockSize=\"16\"") << QByteArray("blockSize=\"8\"") << bounds
        << "block size";
    QTest::newRow("salt that is not base64")
        << QByteArray("saltValue=\"") << QByteArray("saltValue=\"*") << malformed << "salt";
    QTest::newRow("salt size that does not match")
        << QByteArray("saltSize=\"16\"") << QByteArray("saltSize=\"17\"") << bounds << "salt";
    QTest::newRow("a DTD") << QByteArray("<encryption ")
                           << QByteArray("<!DOCTYPE e [<!ENTITY x \"y\">]><encryption ")
                           << malformed << "document type";
    QTest::newRow("another root") << QByteArray("<encryption ") << QByteArray("<decryption ")
                                  << malformed << "root";
    QTest::newRow("unclosed") << QByteArray("</encryption>") << QByteArray("") << malformed
                              << "descriptor";
    QTest::newRow("certificate encryptor only")
        << QByteArray("keyEncryptor/password\">") << QByteArray("keyEncryptor/certificate\">")
        << unsupported << "certificate";
    QTest::newRow("extensible encryption")
        << QByteArray("\x04\x00\x04\x00", 4) << QByteArray("\x04\x00\x03\x00", 4) << unsupported
        << "extensible";
    QTest::newRow("version 9.9") << QByteArray("\x04\x00\x04\x00", 4)
                                 << QByteArray("\x09\x00\x09\x00", 4) << unsupported << "9.9";
}

void TestCrypto::packageRefusals()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(int, status);
    QFETCH(QString, detail);
    officeencryptor::AgileOptions options;
    options.spinCount = 1000;
    officeencryptor::Encrypted e = officeencryptor::encryptAgile(kZip, u"pw", options);
    QVERIFY(e.info.contains(from));
    e.info.replace(e.info.indexOf(from), from.size(), to);
    Bytes zip;
    const CryptoError error = decrypt(e, { u"pw" }, zip);
    QCOMPARE(int(error.status), status);
    QVERIFY2(QString::fromStdString(error.detail).contains(detail), error.detail.c_str());
    QVERIFY(zip.empty());
}

void TestCrypto::damagedPackage_data()
{
    QTest::addColumn<bool>("agile");
    QTest::addColumn<int>("offset"); // negative: from the end
    QTest::addColumn<int>("cut"); // bytes cut from the end
    QTest::addColumn<int>("status");
    const int integrity = int(CryptoStatus::IntegrityFailed),
              malformed = int(CryptoStatus::Malformed);
    QTest::newRow("Agile: a changed byte") << true << 5000 << 0 << integrity;
    QTest::newRow("Agile: a changed last byte") << true << -1 << 0 << integrity;
    QTest::newRow("Agile: cut inside the last block") << true << -1 << 3 << malformed;
    QTest::newRow("Agile: only the size") << true << -1 << -8 << malformed;
    QTest::newRow("Standard: cut inside the last block") << false << -1 << 3 << malformed;
    QTest::newRow("Standard: nothing at all") << false << -1 << -0x7FFF << malformed;
}

void TestCrypto::damagedPackage()
{
    QFETCH(bool, agile);
    QFETCH(int, offset);
    QFETCH(int, cut);
    officeencryptor::AgileOptions options;
    options.spinCount = 10;
    officeencryptor::Encrypted e = agile ? officeencryptor::encryptAgile(kZip, u"pw", options)
                                         : officeencryptor::encryptStandard(kZip, u"pw");
    if (cut > 0) {
        e.package.chop(cut);
    } else if (cut < 0) { // keep only -cut bytes
        e.package = e.package.left(-cut == 0x7FFF ? 0 : -cut);
    } else {
        const int at = offset < 0 ? e.package.size() + offset : offset;
        e.package[at] = char(e.package[at] ^ 1);
    }
    Bytes zip;
    const CryptoError error = decrypt(e, { u"pw" }, zip);
    QTEST(int(error.status), "status");
    QVERIFY(zip.empty());
}

QTEST_GUILESS_MAIN(TestCrypto)
#include "tst_crypto.moc"
