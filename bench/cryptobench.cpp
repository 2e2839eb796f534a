// Figures for opening encrypted workbooks (bench/run_crypto.sh runs it):
//   cryptobench make PLAIN.xlsx OUT.xlsx [SPINS] [PASSWORD]
//       writes PLAIN's package Agile-encrypted (AES-256, SHA-512, SPINS
//       spins, default 100,000) in a compound file, with the built-in
//       default password unless PASSWORD is given
//   cryptobench derive [SPINS]
//       times one Agile key derivation (SHA-512) and one Standard one
//   cryptobench decrypt FILE.xlsx [PASSWORD]
//       times reading the two streams and decrypting the package alone
#include "biffbuilder.h"
#include "crypto/ooxmlcrypt.h"
#include "io/cfb.h"
#include "officeencryptor.h"

#include <QFile>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using clock_type = std::chrono::steady_clock;

double msSince(clock_type::time_point start)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

int make(const char *plainPath, const char *outPath, quint32 spins, const char *password)
{
    QFile in(QString::fromLocal8Bit(plainPath));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", plainPath);
        return 1;
    }
    const QByteArray zip = in.readAll();
    officeencryptor::AgileOptions options;
    options.spinCount = spins;
    const std::u16string pw = password ? QString::fromLocal8Bit(password).toStdU16String()
                                       : sd::crypto::kDefaultPassword;
    const auto start = clock_type::now();
    const officeencryptor::Encrypted e = officeencryptor::encryptAgile(zip, pw, options);
    const biffbuilder::Cfb cfb
        = biffbuilder::buildCfb({ { QStringLiteral("EncryptionInfo"), e.info },
                                  { QStringLiteral("EncryptedPackage"), e.package } },
                                4); // 4096-byte sectors: the header's FAT list holds 450 MB
    QFile out(QString::fromLocal8Bit(outPath));
    if (!out.open(QIODevice::WriteOnly) || out.write(cfb.bytes) != cfb.bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", outPath);
        return 1;
    }
    std::printf("encrypted %d bytes into %s in %.1f ms\n", zip.size(), outPath, msSince(start));
    return 0;
}

int derive(quint32 spins)
{
    using namespace sd::crypto;
    const Bytes salt(16, 7), password = utf16le(kDefaultPassword);
    double best = 1e9, bestStandard = 1e9;
    for (int run = 0; run < 5; ++run) {
        auto start = clock_type::now();
        agileHashPassword(HashAlgorithm::Sha512, salt, password, spins);
        best = std::min(best, msSince(start));
        start = clock_type::now();
        standardKey(salt, password, 128);
        bestStandard = std::min(bestStandard, msSince(start));
    }
    std::printf("Agile key derivation, SHA-512, %u spins: %.1f ms (best of 5)\n", spins, best);
    std::printf("Standard key derivation, SHA-1, 50000 spins: %.1f ms (best of 5)\n", bestStandard);
    return 0;
}

int decrypt(const char *path, const char *password)
{
    using namespace sd::crypto;
    const auto start = clock_type::now();
    QFile f(QString::fromLocal8Bit(path));
    if (!f.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = f.readAll();
    sd::CompoundFile cfb;
    std::vector<uint8_t> info, package;
    if (cfb.open(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()))
        || cfb.findRootEntry("EncryptionInfo") < 0 || cfb.findRootEntry("EncryptedPackage") < 0)
        return 1;
    cfb.readStream(cfb.rootEntries()[size_t(cfb.findRootEntry("EncryptionInfo"))], info);
    cfb.readStream(cfb.rootEntries()[size_t(cfb.findRootEntry("EncryptedPackage"))], package);
    const double read = msSince(start);
    PasswordList user;
    if (password)
        user.push_back(QString::fromLocal8Bit(password).toStdU16String());
    Bytes zip;
    const auto t = clock_type::now();
    const CryptoError e = decryptPackage(info.data(), info.size(), package.data(), package.size(),
                                         candidatePasswords(user), zip);
    if (e) {
        std::fprintf(stderr, "%s\n", e.description().c_str());
        return 1;
    }
    std::printf("read streams %.1f ms, decrypt %zu bytes %.1f ms\n", read, zip.size(), msSince(t));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc >= 4)
        return make(argv[2], argv[3], argc > 4 ? quint32(std::stoul(argv[4])) : 100000,
                    argc > 5 ? argv[5] : nullptr);
    if (mode == "derive")
        return derive(argc > 2 ? quint32(std::stoul(argv[2])) : 100000);
    if (mode == "decrypt" && argc >= 3)
        return decrypt(argv[2], argc > 3 ? argv[3] : nullptr);
    std::fprintf(stderr,
                 "usage: cryptobench make PLAIN OUT [SPINS] [PASSWORD] | derive [SPINS] | "
                 "decrypt FILE [PASSWORD]\n");
    return 2;
}
