#pragma once

#include <QString>

// What the writer process (HistoryWriter.cpp) stores as its message number n, so that the test
// can tell a complete row from a partial one.
namespace WrittenText {

inline QString buddy(int n) { return QStringLiteral("好友%1").arg(n % 7); }

// Long enough to span pages now and then, and different in every part.
inline QString text(int n)
{
    QString text = QStringLiteral("第%1条消息：").arg(n);
    for (int i = 0; i < 20 + n % 300; ++i)
        text += QChar(0x4E00 + (n * 31 + i * 7) % 0x5000);
    return text + QStringLiteral("（完）%1").arg(n);
}

} // namespace WrittenText
