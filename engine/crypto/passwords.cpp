#include "crypto/passwords.h"

#include <algorithm>

namespace sd {
namespace crypto {

const char16_t kDefaultPassword[] = u"VelvetSweatshop";

namespace {

constexpr size_t kXorPasswordBytes = 15;

// Windows-1252 bytes 0x80-0x9F and the characters they stand for.
const char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

uint8_t toCp1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return uint8_t(c);
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == c)
            return uint8_t(0x80 + i);
    }
    return '?';
}

} // namespace

PasswordList candidatePasswords(const PasswordList &user)
{
    PasswordList out;
    out.push_back(kDefaultPassword);
    for (const std::u16string &p : user) {
        if (p.size() <= kMaxPasswordLength && std::find(out.begin(), out.end(), p) == out.end())
            out.push_back(p);
    }
    return out;
}

Bytes utf16le(const std::u16string &password)
{
    Bytes out;
    out.reserve(password.size() * 2);
    for (char16_t c : password) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

std::vector<Bytes> xorPasswordForms(const std::u16string &password)
{
    const size_t n = std::min(password.size(), kXorPasswordBytes);
    Bytes lowBytes, ansi;
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = password[i];
        lowBytes.push_back((c & 0xFF) ? uint8_t(c & 0xFF) : uint8_t(c >> 8));
        ansi.push_back(toCp1252(c));
    }
    std::vector<Bytes> forms { lowBytes };
    if (ansi != lowBytes)
        forms.push_back(ansi);
    return forms;
}

} // namespace crypto
} // namespace sd
