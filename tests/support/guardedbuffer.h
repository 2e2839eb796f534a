#pragma once

#include <QByteArray>

#include <cstring>

// A destination buffer of a given size followed by guard bytes, so that a test
// can prove a routine never wrote past the size it was told.
class GuardedBuffer
{
public:
    static constexpr int GuardSize = 32;
    static constexpr char GuardByte = '\x5a';

    GuardedBuffer(int size, const QByteArray &initial = QByteArray())
        : m_size(size)
        , m_storage(size + GuardSize, GuardByte)
    {
        if (size > 0) {
            std::memset(m_storage.data(), 0, size_t(size));
            std::memcpy(m_storage.data(), initial.constData(),
                        size_t(qMin(initial.size(), size - 1)));
        }
    }

    char *data() { return m_storage.data(); }
    size_t size() const { return size_t(m_size); }
    QByteArray text() const { return QByteArray(m_storage.constData()); }
    bool guardIntact() const { return m_storage.mid(m_size) == QByteArray(GuardSize, GuardByte); }
    QByteArray raw() const { return m_storage; }

private:
    int m_size;
    QByteArray m_storage;
};
