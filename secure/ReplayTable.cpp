#include "secure/ReplayTable.h"

#include "secure/IdentityKey.h"
#include "secure/PrivateFile.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr char FileHeader[] = "talvino-replay 1\n";
// A line: 64 hexadecimal digits, a space, at most 20 decimal digits, a line feed.
constexpr qsizetype MaxLineSize = 2 * IdentityKey::PublicKeySize + 1 + 20 + 1;
constexpr qsizetype MaxFileSize = qsizetype(sizeof(FileHeader)) + ReplayTable::MaxSenders * MaxLineSize;

bool allOf(QByteArrayView text, const char *digits)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [digits](char c) {
        return c != '\0' && std::strchr(digits, c) != nullptr;
    });
}

} // namespace

ReplayTable::ReplayTable(QString path) : path_(std::move(path))
{
    if (!path_.isEmpty())
        load();
}

bool ReplayTable::accepts(const QByteArray &senderKey, quint64 counter)
{
    const ReplayWindow *window = windows_.find(senderKey);
    return window ? window->check(counter) : ReplayWindow().check(counter);
}

void ReplayTable::record(const QByteArray &senderKey, quint64 counter)
{
    ReplayWindow *window = windows_.find(senderKey);
    if (!window)
        window = &windows_.insert(senderKey, ReplayWindow());
    window->record(counter);
}

bool ReplayTable::save(QString *error) const
{
    if (path_.isEmpty())
        return true;
    QByteArray content = FileHeader;
    content.reserve(qsizetype(sizeof(FileHeader)) + windows_.size() * MaxLineSize);
    windows_.forEach([&content](const QByteArray &key, const ReplayWindow &window) {
        content += key.toHex() + ' ' + QByteArray::number(window.highest()) + '\n';
    });
    return PrivateFile::write(path_, content, error);
}

void ReplayTable::load()
{
    QByteArray content;
    QString error;
    const PrivateFile::ReadResult result = PrivateFile::read(path_, MaxFileSize, &content, &error);
    if (result == PrivateFile::ReadResult::Missing)
        return;
    if (result == PrivateFile::ReadResult::Failed || !content.startsWith(FileHeader)) {
        qWarning().noquote() << (error.isEmpty() ? u"not a replay file: "_s + path_ : error);
        return;
    }
    // The file lists the most recently heard first: inserting from the end keeps that order.
    const QList<QByteArray> lines = content.sliced(sizeof(FileHeader) - 1).split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QByteArrayView text(*line);
        const qsizetype space = text.indexOf(' ');
        if (space != 2 * IdentityKey::PublicKeySize || !allOf(text.first(space), "0123456789abcdef")
            || !allOf(text.sliced(space + 1), "0123456789"))
            continue;
        bool ok = false;
        const quint64 highest = text.sliced(space + 1).toULongLong(&ok);
        if (!ok)
            continue;
        ReplayWindow window;
        window.restore(highest);
        windows_.insert(QByteArray::fromHex(text.first(space).toByteArray()), window);
    }
}
