#include "net/Ipv4Address.h"

#include <QByteArray>
#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string_view>

namespace {

// One number of the dotted text: one blank and a '+' may come first, then the number in C
// notation (0x hex, 0b binary, a leading 0 octal, else decimal) and nothing after it.
std::optional<quint64> number(std::string_view text)
{
    if (text.starts_with(' '))
        text.remove_prefix(1);
    if (text.starts_with('+'))
        text.remove_prefix(1);
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    int base = 10;
    if (text.front() == '0') {
        const char mark = text.size() > 1 ? char(text[1] | 0x20) : '\0';
        base = mark == 'x' ? 16 : mark == 'b' ? 2 : 8;
        if (base != 8)
            text.remove_prefix(2);
    }
    quint64 value = 0;
    const char *const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc{} || stop != end)
        return std::nullopt;
    return value;
}

// The address in text of plain ASCII: one to four numbers; all but the last are one byte
// each, and the last fills the bytes left.
std::optional<quint32> dotted(std::string_view rest)
{
    std::array<quint64, 4> parts{};
    int count = 0;
    for (;;) {
        if (count == int(parts.size()))
            return std::nullopt;
        const size_t dot = rest.find('.');
        const std::optional<quint64> part = number(rest.substr(0, dot));
        if (!part)
            return std::nullopt;
        parts[count++] = *part;
        if (dot == std::string_view::npos)
            break;
        rest.remove_prefix(dot + 1);
    }
    quint32 address = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xff)
            return std::nullopt;
        address |= quint32(parts[i]) << (24 - 8 * i);
    }
    if (parts[count - 1] > (quint64(0xffffffff) >> (8 * (count - 1))))
        return std::nullopt;
    return address | quint32(parts[count - 1]);
}

std::optional<quint32> parse(QStringView text)
{
    // Text after a NUL would otherwise go unseen by whoever checks the address.
    if (text.contains(QChar(0)))
        return std::nullopt;
    const QString simple = text.toString().simplified();
    if (simple.isEmpty()
        || std::any_of(simple.cbegin(), simple.cend(), [](QChar c) { return c.unicode() >= 0x7f; }))
        return std::nullopt;
    const QByteArray ascii = simple.toLatin1();
    return dotted(std::string_view(ascii.constData(), size_t(ascii.size())));
}

} // namespace

Ipv4Address::Ipv4Address(QStringView text)
{
    if (const std::optional<quint32> parsed = parse(text))
        *this = Ipv4Address(*parsed);
}

QString Ipv4Address::toString() const
{
    if (null_)
        return QString();
    return QString::number(value_ >> 24) + u'.' + QString::number((value_ >> 16) & 0xff) + u'.'
        + QString::number((value_ >> 8) & 0xff) + u'.' + QString::number(value_ & 0xff);
}

bool Ipv4Address::isLoopback() const { return !null_ && (value_ >> 24) == 127; }

bool Ipv4Address::isInSubnet(Ipv4Address subnet, int prefixLength) const
{
    if (null_ || subnet.null_ || prefixLength < 0)
        return false;
    if (prefixLength == 0)
        return true;
    const quint32 mask = ~quint32(0) << (32 - std::min(prefixLength, 32));
    return (value_ & mask) == (subnet.value_ & mask);
}
