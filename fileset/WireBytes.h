#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>

#include <type_traits>

// Big-endian fields of the file-set formats, written and read with bounds.
namespace WireBytes {

template <typename T> void append(QByteArray &out, T value)
{
    static_assert(std::is_integral_v<T>);
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

// Reads fields off the front of bytes. A read past the end fails and leaves the reader failed,
// so that a parser checks once, after its reads.
class Reader {
public:
    explicit Reader(QByteArrayView bytes) : bytes_(bytes) {}

    template <typename T> T read()
    {
        static_assert(std::is_integral_v<T>);
        if (!has(sizeof(T)))
            return T{};
        const T value = qFromBigEndian<T>(bytes_.data() + at_);
        at_ += qsizetype(sizeof(T));
        return value;
    }

    QByteArrayView take(qsizetype size)
    {
        if (!has(size))
            return {};
        const QByteArrayView view = bytes_.sliced(at_, size);
        at_ += size;
        return view;
    }

    bool failed() const { return failed_; }
    // Whether every byte was read and none was missing.
    bool atEnd() const { return !failed_ && at_ == bytes_.size(); }
    qsizetype remaining() const { return failed_ ? 0 : bytes_.size() - at_; }

private:
    bool has(qsizetype size)
    {
        if (failed_ || size < 0 || size > bytes_.size() - at_)
            failed_ = true;
        return !failed_;
    }

    QByteArrayView bytes_;
    qsizetype at_ = 0;
    bool failed_ = false;
};

} // namespace WireBytes
