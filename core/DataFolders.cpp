#include "core/DataFolders.h"

#include "core/PeerContext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString ContactFile = u"myinfo.ini"_s;
const QString ReadmeFile = u"readme.txt"_s;
const QString ChatFolder = u"chatdat"_s;
constexpr QFile::Permissions PrivateFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// The installed share folder beside the executable's prefix (<prefix>/bin -> <prefix>/share),
// then the XDG data folders, then the executable's own folder (a build tree): the first that
// holds readme.txt, or the first of them when none does.
QString shareFolder(const QString &exeDir)
{
    const QString besidePrefix = QDir::cleanPath(exeDir + u"/../share/"_s + DataFolders::folderName());
    if (QFileInfo::exists(besidePrefix + u"/"_s + ReadmeFile))
        return besidePrefix;
    const QString located = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                   DataFolders::folderName() + u"/"_s + ReadmeFile);
    if (!located.isEmpty())
        return QFileInfo(located).absolutePath();
    if (QFileInfo::exists(exeDir + u"/"_s + ReadmeFile))
        return exeDir;
    return besidePrefix;
}

// The download folder when it exists, else the home folder: a dialog opened in a missing
// folder, and a received.tmp written there, would fail.
QString downloadFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return !downloads.isEmpty() && QFileInfo(downloads).isDir() ? downloads : QDir::homePath();
}

// Creates path and each missing folder above it with mode 0700; existing ones are untouched.
bool makePrivatePath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).absolutePath();
    if (parent == clean || !makePrivatePath(parent))
        return false;
    return QDir().mkdir(clean, PrivateFolder) || QFileInfo(clean).isDir();
}

} // namespace

QString DataFolders::folderName() { return u"talvino"_s; }

DataFolders DataFolders::choose(const QString &exeDir)
{
    DataFolders folders;
    const QFileInfo dir(exeDir);
    folders.portable_ = dir.isDir() && dir.isWritable() && QFileInfo::exists(exeDir + u"/"_s + ContactFile);
    if (folders.portable_) {
        folders.configDir_ = folders.dataDir_ = folders.shareDir_ = exeDir;
        return folders;
    }
    const QString name = u"/"_s + folderName();
    folders.configDir_ = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + name;
    folders.dataDir_ = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + name;
    folders.downloadDir_ = downloadFolder();
    folders.shareDir_ = shareFolder(exeDir);
    return folders;
}

bool DataFolders::prepare() const
{
    if (portable_)
        return true;
    ::umask(S_IRWXG | S_IRWXO);
    return makePrivatePath(configDir_) && makePrivatePath(dataDir_ + u"/"_s + ChatFolder);
}

void DataFolders::applyTo(PeerContext &context) const
{
    context.configDir = configDir_;
    context.dataDir = dataDir_;
    context.downloadDir = downloadDir_;
    context.shareDir = shareDir_;
}
