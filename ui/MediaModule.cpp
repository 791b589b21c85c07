#include "ui/MediaModule.h"

#include "secure/ProgramModule.h"

using namespace Qt::Literals::StringLiterals;

QString MediaModule::fileName() { return QStringLiteral(TALVINO_MEDIA_MODULE); }

QStringList MediaModule::defaultFolders() { return ProgramModule::defaultFolders(); }

MediaModule::Loaded MediaModule::load(const QStringList &folders)
{
    const ProgramModule::Loaded module =
        ProgramModule::load(folders, fileName(), MediaBackendFactoryName, u"媒体模块"_s);
    return {reinterpret_cast<MediaBackendFactory>(module.entry), module.error};
}
