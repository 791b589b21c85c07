#include "ui/MediaModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

using namespace Qt::Literals::StringLiterals;

QString MediaModule::fileName() { return QStringLiteral(TALVINO_MEDIA_MODULE); }

QStringList MediaModule::defaultFolders()
{
    return {QCoreApplication::applicationDirPath(), QStringLiteral(TALVINO_MEDIA_MODULE_DIR)};
}

MediaModule::Loaded MediaModule::load(const QStringList &folders)
{
    QString path;
    for (const QString &folder : folders) {
        const QFileInfo candidate(QDir(folder).filePath(fileName()));
        if (candidate.isFile()) {
            path = candidate.absoluteFilePath();
            break;
        }
    }
    if (path.isEmpty())
        return {nullptr, u"没有找到媒体模块 "_s + fileName() + u"（查找了 "_s + folders.join(u"、"_s) + u"）"_s};

    QLibrary library(path);
    if (!library.load())
        return {nullptr, u"无法加载媒体模块："_s + library.errorString()};
    const auto factory = reinterpret_cast<MediaBackendFactory>(library.resolve(MediaBackendFactoryName));
    if (!factory) {
        library.unload(); // not a module of this program's version
        return {nullptr, u"无法加载媒体模块："_s + path + u" 中没有 "_s + QLatin1StringView(MediaBackendFactoryName)
                             + u"（不是本程序这一版本的媒体模块）"_s};
    }
    return {factory, QString()};
}
