#include "secure/ProgramModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

using namespace Qt::Literals::StringLiterals;

QStringList ProgramModule::defaultFolders()
{
    return {QCoreApplication::applicationDirPath(), QStringLiteral(TALVINO_MODULE_DIR)};
}

ProgramModule::Loaded ProgramModule::load(const QStringList &folders, const QString &fileName, const char *entryName,
                                          const QString &what)
{
    QString path;
    for (const QString &folder : folders) {
        const QFileInfo candidate(QDir(folder).filePath(fileName));
        if (candidate.isFile()) {
            path = candidate.absoluteFilePath();
            break;
        }
    }
    if (path.isEmpty())
        return {nullptr, u"没有找到"_s + what + u" "_s + fileName + u"（查找了 "_s + folders.join(u"、"_s) + u"）"_s};

    QLibrary library(path);
    if (!library.load())
        return {nullptr, u"无法加载"_s + what + u"："_s + library.errorString()};
    void *entry = reinterpret_cast<void *>(library.resolve(entryName));
    if (!entry) {
        library.unload(); // not a module of this program's version
        return {nullptr, u"无法加载"_s + what + u"："_s + path + u" 中没有 "_s + QLatin1StringView(entryName)
                             + u"（不是本程序这一版本的"_s + what + u"）"_s};
    }
    return {entry, QString()};
}
