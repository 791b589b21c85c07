#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

// An IPv4 address as a value, or null (no address). Text is read the way the program has
// always read addresses given to it: blanks around it (any Unicode blank) are dropped, and
// one to four dot-separated numbers in C notation (0x hex, 0b binary, a leading 0 octal) make
// the address, the last number filling the bytes left ("127.1" is 127.0.0.1). Each number may
// follow one blank and a '+'. Anything else, IPv6 text included, is null. Written as dotted
// decimal.
class Ipv4Address {
public:
    constexpr Ipv4Address() = default;
    constexpr explicit Ipv4Address(quint32 hostOrder) : value_(hostOrder), null_(false) {}
    explicit Ipv4Address(QStringView text);

    // 0.0.0.0, the address of every interface.
    static constexpr Ipv4Address any() { return Ipv4Address(0); }

    bool isNull() const { return null_; }
    // The address in host byte order; 0 for null.
    quint32 toUInt() const { return value_; }
    // Dotted decimal ("192.168.0.7"); empty for null.
    QString toString() const;
    // In 127.0.0.0/8.
    bool isLoopback() const;
    // Whether the first prefixLength bits equal those of subnet; a prefix above 32 counts as
    // 32, a negative one or a null address on either side matches nothing.
    bool isInSubnet(Ipv4Address subnet, int prefixLength) const;

    friend bool operator==(const Ipv4Address &, const Ipv4Address &) = default;

private:
    quint32 value_ = 0;
    bool null_ = true;
};
