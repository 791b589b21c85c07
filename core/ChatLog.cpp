#include "core/ChatLog.h"

#include "core/Gbk.h"
#include "net/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::Literals::StringLiterals;

namespace {

// Room for a file name, in UTF-8 bytes: below the usual 255 with space for ".txt" and the
// suffix of the temporary file a save goes through.
constexpr int MaxNameBytes = 200;

bool unsafeInFileName(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'/' || u == u'\\' || u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QString safeFileName(const QString &entry)
{
    QString name = entry;
    for (QChar &c : name) {
        if (unsafeInFileName(c))
            c = u'_';
    }
    while (name.toUtf8().size() > MaxNameBytes)
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    return name;
}

QString folder(const QString &appDir) { return appDir + u"/chatdat/"_s; }

} // namespace

namespace ChatLog {

QString fileName(const QString &appDir, const QString &entry)
{
    return folder(appDir) + safeFileName(entry) + u".txt"_s;
}

QString transcriptFileName(const QString &appDir) { return folder(appDir) + u"聊天室.txt"_s; }

QString read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(u"Cannot open file "_s + path);
    QString text = Gbk::decode(file.readAll());
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').replace(u"\n"_s, u"\r\n"_s);
    return text;
}

void write(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(Gbk::encode(text)) < 0 || !file.commit())
        throw Exception(u"Cannot create file "_s + path);
}

} // namespace ChatLog
