#include "io/zip.h"

#include "io/byteorder.h"
#include "io/inflate.h"
#include "io/limits.h"

#include <zlib.h>
#ifdef SHEETDRAIN_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sd {

namespace {

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr bool kCheckCrc = false; // let mutated parts reach the XML parsers
#else
constexpr bool kCheckCrc = true;
#endif

// Record signatures and fixed sizes of the zip format (APPNOTE 6.3).
constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndOfDirSig = 0x06054b50;
constexpr uint32_t kZip64EndOfDirSig = 0x06064b50;
constexpr uint32_t kZip64LocatorSig = 0x07064b50;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndOfDirSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndOfDirSize = 56;
constexpr size_t kMaxCommentSize = 65535;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
// Compressed bytes read per refill of a streaming inflater.
constexpr size_t kInputChunk = 64 * 1024;

uint32_t crcUpdate(uint32_t crc, const char *data, size_t size)
{
#ifdef SHEETDRAIN_HAVE_LIBDEFLATE
    return libdeflate_crc32(crc, data, size);
#else
    while (size > 0) { // zlib's length is a uInt
        const uInt n = uInt(std::min<size_t>(size, 1u << 30));
        crc = uint32_t(crc32(crc, reinterpret_cast<const Bytef *>(data), n));
        data += n;
        size -= n;
    }
    return crc;
#endif
}

std::string partWhere(const ZipArchive &zip, const ZipEntry &entry)
{
    return zip.label() + ", " + entry.name;
}

// Checks the caps that do not need any inflating: declared size and ratio.
Error checkDeclared(const ZipArchive &zip, const ZipEntry &entry)
{
    if (entry.flags & kFlagEncrypted)
        return Error(ErrorCode::Unsupported, partWhere(zip, entry), "encrypted zip entry");
    if (entry.method != kMethodStored && entry.method != kMethodDeflated)
        return Error(ErrorCode::Unsupported, partWhere(zip, entry),
                     "zip compression method " + std::to_string(entry.method));
    if (entry.size > kMaxPartSize)
        return Error(ErrorCode::TooLarge, partWhere(zip, entry),
                     "part inflates to " + std::to_string(entry.size) + " bytes, more than "
                         + std::to_string(kMaxPartSize));
    if (entry.size > kRatioCheckFloor && entry.size / kMaxCompressionRatio > entry.compressedSize)
        return Error(ErrorCode::TooLarge, partWhere(zip, entry),
                     "compression ratio above " + std::to_string(kMaxCompressionRatio) + ":1");
    if (entry.method == kMethodStored && entry.size != entry.compressedSize)
        return Error(ErrorCode::Corrupt, partWhere(zip, entry), "stored entry sizes differ");
    return {};
}

// Streams one part: stored entries are copied, deflated ones inflated
// through a small input window (RawInflater). The size recorded in the
// directory and the CRC are checked at the end, so a damaged part is never
// taken as whole.
class EntryStream final : public ByteSource
{
public:
    EntryStream(ZipArchive &zip, const ZipEntry &entry)
        : m_zip(zip)
        , m_entry(entry)
    {
    }

    Error init()
    {
        if (m_entry.method == kMethodDeflated) {
            m_inflater = std::make_unique<RawInflater>();
            if (!m_inflater->valid())
                return Error(ErrorCode::Corrupt, partWhere(m_zip, m_entry),
                             "inflater initialisation failed");
        }
        return {};
    }

    Error read(char *dst, size_t cap, size_t *got) override
    {
        *got = 0;
        if (m_done || cap == 0)
            return {};
        size_t produced = 0;
        if (m_entry.method == kMethodStored) {
            const uint64_t left = m_entry.compressedSize - m_inPos;
            produced = size_t(std::min<uint64_t>(left, cap));
            if (produced && !readInput(dst, produced))
                return truncated();
            m_inPos += produced;
        } else if (Error e = inflateInto(dst, cap, &produced)) {
            return e;
        }
        m_outPos += produced;
        if (m_outPos > m_entry.size)
            return Error(ErrorCode::Corrupt, partWhere(m_zip, m_entry),
                         "part longer than its recorded size");
        if (Error e = m_zip.account(produced, m_entry))
            return e;
        m_crc = crcUpdate(m_crc, dst, produced);
        *got = produced;
        const bool finished
            = m_entry.method == kMethodStored ? m_inPos == m_entry.compressedSize : m_streamEnd;
        if (finished) {
            m_done = true;
            if (m_outPos != m_entry.size)
                return Error(ErrorCode::Corrupt, partWhere(m_zip, m_entry),
                             "part shorter than its recorded size");
            if (kCheckCrc && m_crc != m_entry.crc)
                return Error(ErrorCode::Corrupt, partWhere(m_zip, m_entry), "CRC mismatch");
        }
        return {};
    }

private:
    // Fills dst as far as the stream goes, feeding input chunk by chunk.
    Error inflateInto(char *dst, size_t cap, size_t *produced)
    {
        size_t filled = 0;
        while (filled < cap) {
            const bool inputEnd = m_inPos >= m_entry.compressedSize;
            if (m_inflater->inputLeft() == 0 && !inputEnd) {
                if (Error e = nextInput())
                    return e;
            }
            size_t n = 0;
            const RawInflater::Status st = m_inflater->inflate(dst + filled, cap - filled, &n);
            filled += n;
            if (st == RawInflater::Status::End) {
                m_streamEnd = true;
                break;
            }
            if (st == RawInflater::Status::Bad) {
                const std::string &why = m_inflater->message();
                return Error(ErrorCode::Corrupt, partWhere(m_zip, m_entry),
                             "bad deflate data" + (why.empty() ? why : ": " + why));
            }
            // The inflater stops short of cap only when the input ran out.
            if (filled < cap && inputEnd && n == 0)
                return truncated();
        }
        *produced = filled;
        return {};
    }

    Error nextInput()
    {
        const size_t n = size_t(std::min<uint64_t>(kInputChunk, m_entry.compressedSize - m_inPos));
        const char *mem = m_zip.memoryData();
        if (mem) {
            m_inflater->setInput(mem + m_entry.dataOffset + m_inPos, n);
        } else {
            m_input.resize(kInputChunk);
            if (!readInput(m_input.data(), n))
                return truncated();
            m_inflater->setInput(m_input.data(), n);
        }
        m_inPos += n;
        return {};
    }
    bool readInput(char *dst, size_t n)
    {
        return m_zip.readAt(m_entry.dataOffset + m_inPos, dst, n);
    }
    Error truncated() const
    {
        return Error(ErrorCode::Corrupt, partWhere(m_zip, m_entry), "truncated part data");
    }

    ZipArchive &m_zip;
    const ZipEntry &m_entry;
    std::unique_ptr<RawInflater> m_inflater;
    bool m_streamEnd = false;
    bool m_done = false;
    uint64_t m_inPos = 0;
    uint64_t m_outPos = 0;
    uint32_t m_crc = 0;
    std::string m_input;
};

// The zip64 extra field holds, in order, those of the three values whose
// classic field is saturated. False when it is too short for them.
bool readZip64Extra(const unsigned char *x, size_t extraLen, ZipEntry &entry)
{
    const unsigned char *xEnd = x + extraLen;
    while (x + 4 <= xEnd) {
        const uint16_t id = le16(x), len = le16(x + 2);
        if (x + 4 + len > xEnd)
            break;
        if (id == kZip64ExtraId) {
            const unsigned char *f = x + 4, *fEnd = x + 4 + len;
            auto take = [&](uint64_t &value) {
                if (value != 0xFFFFFFFF)
                    return true;
                if (f + 8 > fEnd)
                    return false;
                value = le64(f);
                f += 8;
                return true;
            };
            if (!take(entry.size) || !take(entry.compressedSize) || !take(entry.localOffset))
                return false;
        }
        x += 4 + len;
    }
    return true;
}

} // namespace

ZipArchive::ZipArchive() = default;

ZipArchive::~ZipArchive()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Error ZipArchive::openFile(const std::string &path)
{
    m_label = path;
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return Error(ErrorCode::CannotOpen, path, std::strerror(errno));
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return Error(ErrorCode::CannotOpen, path, std::strerror(errno));
    m_size = uint64_t(st.st_size);
    return readDirectory();
}

Error ZipArchive::openMemory(const void *data, size_t size)
{
    m_label = "<memory>";
    m_memory.assign(static_cast<const char *>(data), size);
    m_size = size;
    return readDirectory();
}

bool ZipArchive::readAt(uint64_t offset, void *dst, size_t size) const
{
    if (offset > m_size || size > m_size - offset)
        return false;
    if (m_fd < 0) {
        std::memcpy(dst, m_memory.data() + offset, size);
        return true;
    }
    char *out = static_cast<char *>(dst);
    while (size > 0) {
        const ssize_t n = ::pread(m_fd, out, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

Error ZipArchive::corrupt(const std::string &detail) const
{
    return Error(ErrorCode::Corrupt, m_label, detail);
}

std::string ZipArchive::normalizedName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\')
            c = '/';
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        out += c;
    }
    size_t skip = 0;
    while (skip < out.size() && out[skip] == '/')
        ++skip;
    return out.substr(skip);
}

// Reads the end-of-directory record (zip64 when the classic one overflows),
// then the central directory, then each local header to find where the data
// begins. Sizes and offsets are never trusted: each is checked against the
// real file size, and entries may neither overlap nor share a name.
Error ZipArchive::readDirectory()
{
    uint64_t entryCount = 0, dirOffset = 0, dirSize = 0;
    if (Error e = findDirectory(entryCount, dirOffset, dirSize))
        return e;
    if (Error e = readCentralDirectory(dirOffset, dirSize))
        return e;
    return checkEntries(dirOffset);
}

// The end-of-directory record (zip64 when a classic field is saturated):
// where the central directory lies and how many entries it holds.
Error ZipArchive::findDirectory(uint64_t &entryCount, uint64_t &dirOffset, uint64_t &dirSize)
{
    if (m_size < kEndOfDirSize)
        return Error(ErrorCode::NotAWorkbook, m_label, "too short to be a zip package");
    const size_t tailSize = size_t(std::min<uint64_t>(m_size, kEndOfDirSize + kMaxCommentSize));
    std::string tail(tailSize, '\0');
    if (!readAt(m_size - tailSize, tail.data(), tailSize))
        return Error(ErrorCode::CannotOpen, m_label, "read error");
    const auto *t = reinterpret_cast<const unsigned char *>(tail.data());
    long eocd = -1;
    for (long i = long(tailSize - kEndOfDirSize); i >= 0; --i) {
        if (le32(t + i) == kEndOfDirSig
            && size_t(i) + kEndOfDirSize + le16(t + i + 20) <= tailSize) {
            eocd = i;
            break;
        }
    }
    if (eocd < 0)
        return Error(ErrorCode::NotAWorkbook, m_label,
                     "no zip directory (not a zip package, or truncated)");
    const uint64_t eocdPos = m_size - tailSize + uint64_t(eocd);
    const unsigned char *e = t + eocd;
    entryCount = le16(e + 10);
    dirSize = le32(e + 12);
    dirOffset = le32(e + 16);
    uint64_t dirLimit = eocdPos;
    if (entryCount == 0xFFFF || dirSize == 0xFFFFFFFF || dirOffset == 0xFFFFFFFF) {
        unsigned char loc[kZip64LocatorSize];
        if (eocdPos < kZip64LocatorSize || !readAt(eocdPos - kZip64LocatorSize, loc, sizeof loc)
            || le32(loc) != kZip64LocatorSig)
            return corrupt("zip64 directory locator missing");
        const uint64_t z64Pos = le64(loc + 8);
        unsigned char z64[kZip64EndOfDirSize];
        if (z64Pos > eocdPos - kZip64LocatorSize || !readAt(z64Pos, z64, sizeof z64)
            || le32(z64) != kZip64EndOfDirSig)
            return corrupt("zip64 end of directory record missing");
        entryCount = le64(z64 + 32);
        dirSize = le64(z64 + 40);
        dirOffset = le64(z64 + 48);
        dirLimit = z64Pos;
    }
    if (dirOffset > dirLimit || dirSize > dirLimit - dirOffset)
        return corrupt("zip directory lies outside the file (truncated?)");
    if (entryCount > kMaxZipEntries)
        return Error(ErrorCode::TooLarge, m_label,
                     "more than " + std::to_string(kMaxZipEntries) + " zip entries");
    return {};
}

Error ZipArchive::readCentralDirectory(uint64_t dirOffset, uint64_t dirSize)
{
    std::string dir(size_t(dirSize), '\0');
    if (!readAt(dirOffset, dir.data(), dir.size()))
        return Error(ErrorCode::CannotOpen, m_label, "read error");
    const auto *d = reinterpret_cast<const unsigned char *>(dir.data());
    size_t pos = 0;
    while (pos + 4 <= dir.size() && le32(d + pos) == kCentralHeaderSig) {
        if (pos + kCentralHeaderSize > dir.size())
            return corrupt("truncated zip directory entry");
        const unsigned char *h = d + pos;
        ZipEntry entry;
        entry.flags = le16(h + 8);
        entry.method = le16(h + 10);
        entry.crc = le32(h + 16);
        entry.compressedSize = le32(h + 20);
        entry.size = le32(h + 24);
        const size_t nameLen = le16(h + 28), extraLen = le16(h + 30), commentLen = le16(h + 32);
        entry.localOffset = le32(h + 42);
        if (pos + kCentralHeaderSize + nameLen + extraLen + commentLen > dir.size())
            return corrupt("truncated zip directory entry");
        entry.name.assign(dir.data() + pos + kCentralHeaderSize, nameLen);
        std::replace(entry.name.begin(), entry.name.end(), '\\', '/');
        if (!readZip64Extra(h + kCentralHeaderSize + nameLen, extraLen, entry))
            return corrupt("short zip64 extra field for " + entry.name);
        pos += kCentralHeaderSize + nameLen + extraLen + commentLen;
        if (m_entries.size() >= kMaxZipEntries)
            return Error(ErrorCode::TooLarge, m_label,
                         "more than " + std::to_string(kMaxZipEntries) + " zip entries");
        m_entries.push_back(std::move(entry));
    }
    if (m_entries.empty())
        return Error(ErrorCode::NotAWorkbook, m_label, "empty zip package");
    return {};
}

// Local headers: where each entry's data starts, and that it stays clear of
// its neighbours and of the directory. Names must be unique.
Error ZipArchive::checkEntries(uint64_t dirOffset)
{
    for (ZipEntry &entry : m_entries) {
        unsigned char lh[kLocalHeaderSize];
        if (entry.localOffset > dirOffset || !readAt(entry.localOffset, lh, sizeof lh)
            || le32(lh) != kLocalHeaderSig)
            return corrupt("bad local header for " + entry.name);
        entry.dataOffset = entry.localOffset + kLocalHeaderSize + le16(lh + 26) + le16(lh + 28);
        if (entry.dataOffset > dirOffset || entry.compressedSize > dirOffset - entry.dataOffset)
            return corrupt("entry data runs past the directory: " + entry.name + " (truncated?)");
    }
    std::vector<const ZipEntry *> order;
    order.reserve(m_entries.size());
    for (const ZipEntry &entry : m_entries)
        order.push_back(&entry);
    std::sort(order.begin(), order.end(),
              [](const ZipEntry *a, const ZipEntry *b) { return a->localOffset < b->localOffset; });
    for (size_t i = 1; i < order.size(); ++i) {
        if (order[i - 1]->dataOffset + order[i - 1]->compressedSize > order[i]->localOffset)
            return corrupt("overlapping zip entries: " + order[i - 1]->name + " and "
                           + order[i]->name);
    }
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (!m_byName.emplace(normalizedName(m_entries[i].name), i).second)
            return corrupt("duplicate zip entry name: " + m_entries[i].name);
    }
    return {};
}

const ZipEntry *ZipArchive::find(std::string_view name) const
{
    auto it = m_byName.find(normalizedName(name));
    return it == m_byName.end() ? nullptr : &m_entries[it->second];
}

Error ZipArchive::account(uint64_t bytes, const ZipEntry &entry)
{
    m_inflated += bytes;
    if (m_inflated > kMaxWorkbookInflated)
        return Error(ErrorCode::TooLarge, partWhere(*this, entry),
                     "workbook inflates to more than " + std::to_string(kMaxWorkbookInflated)
                         + " bytes");
    return {};
}

std::unique_ptr<ByteSource> ZipArchive::open(const ZipEntry &entry, Error *error)
{
    if ((*error = checkDeclared(*this, entry)))
        return nullptr;
    auto stream = std::make_unique<EntryStream>(*this, entry);
    if ((*error = stream->init()))
        return nullptr;
    return stream;
}

Error ZipArchive::extract(const ZipEntry &entry, std::string &out)
{
    out.clear();
    if (Error e = checkDeclared(*this, entry))
        return e;
    if (entry.size > kWholePartLimit)
        return Error(ErrorCode::TooLarge, partWhere(*this, entry), "part too large to read whole");
#ifdef SHEETDRAIN_HAVE_LIBDEFLATE
    // libdeflate inflates a whole buffer about twice as fast as zlib; the
    // size is known and capped, so the buffer is allocated once.
    if (entry.method == kMethodDeflated) {
        std::string input;
        const char *in = memoryData() ? memoryData() + entry.dataOffset : nullptr;
        if (!in) {
            input.resize(size_t(entry.compressedSize));
            if (!readAt(entry.dataOffset, input.data(), input.size()))
                return Error(ErrorCode::Corrupt, partWhere(*this, entry), "truncated part data");
            in = input.data();
        }
        out.resize(size_t(entry.size));
        libdeflate_decompressor *dec = libdeflate_alloc_decompressor();
        if (!dec)
            return Error(ErrorCode::TooLarge, partWhere(*this, entry), "out of memory");
        const libdeflate_result rc = libdeflate_deflate_decompress(
            dec, in, size_t(entry.compressedSize), out.data(), out.size(), nullptr);
        libdeflate_free_decompressor(dec);
        if (rc == LIBDEFLATE_SHORT_OUTPUT)
            return Error(ErrorCode::Corrupt, partWhere(*this, entry),
                         "part shorter than its recorded size");
        if (rc == LIBDEFLATE_INSUFFICIENT_SPACE)
            return Error(ErrorCode::Corrupt, partWhere(*this, entry),
                         "part longer than its recorded size");
        if (rc != LIBDEFLATE_SUCCESS)
            return Error(ErrorCode::Corrupt, partWhere(*this, entry), "bad deflate data");
        if (Error e = account(out.size(), entry))
            return e;
        if (kCheckCrc && crcUpdate(0, out.data(), out.size()) != entry.crc)
            return Error(ErrorCode::Corrupt, partWhere(*this, entry), "CRC mismatch");
        return {};
    }
#endif
    Error err;
    auto stream = open(entry, &err);
    if (!stream)
        return err;
    out.resize(size_t(entry.size));
    size_t filled = 0;
    for (;;) {
        size_t got = 0;
        // One spare byte lets a part longer than recorded show itself.
        char spare;
        char *dst = filled < out.size() ? out.data() + filled : &spare;
        const size_t cap = filled < out.size() ? out.size() - filled : 1;
        if (Error e = stream->read(dst, cap, &got))
            return e;
        if (got == 0)
            break;
        filled += got;
    }
    out.resize(filled);
    return {};
}

} // namespace sd
