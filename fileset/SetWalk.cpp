#include "fileset/SetWalk.h"

#include "fileset/Descriptor.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

qint64 modifiedMs(const struct stat &status)
{
    return qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
}

struct FolderItem {
    QString name;
    struct stat status;
};

// Walks the chosen items into a LocalSet, stopping at the first error.
class SetWalker {
public:
    explicit SetWalker(NameEncoding encoding) { set_.manifest.encoding = encoding; }

    bool addChosen(const QString &localPath);
    bool finish();
    LocalSet &set() { return set_; }
    const QString &error() const { return error_; }

private:
    bool add(const QString &path, const QString &localPath, const struct stat &status);
    bool walkFolder(const Descriptor &folder, const QString &path, const QString &localPath);
    std::optional<QList<FolderItem>> readFolder(const Descriptor &folder, const QString &path);
    bool fail(const QString &error)
    {
        error_ = error;
        return false;
    }

    LocalSet set_;
    QSet<QString> topNames_;
    QString error_;
};

bool SetWalker::addChosen(const QString &localPath)
{
    const QString clean = QDir::cleanPath(localPath);
    const QString name = clean.mid(clean.lastIndexOf(u'/') + 1);
    if (name.isEmpty() || !clean.startsWith(u'/'))
        return fail(u"“%1”不能发送，因为它不是一个完整路径"_s.arg(NameText::shown(localPath)));
    struct stat status {};
    if (::lstat(QFile::encodeName(clean).constData(), &status) != 0)
        return fail(u"无法读取“%1”：%2"_s.arg(NameText::shown(clean), systemText(errno)));
    const bool listed = S_ISREG(status.st_mode) || S_ISDIR(status.st_mode);
    if (listed && topNames_.contains(name))
        return fail(u"选择了两个同名的项目“%1”：一次发送中的名字不能相同"_s.arg(NameText::shown(name)));
    topNames_.insert(name);
    if (!add(name, clean, status))
        return false;
    if (!S_ISDIR(status.st_mode))
        return true;
    Descriptor folder(::open(QFile::encodeName(clean).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isOpen())
        return fail(u"无法读取文件夹“%1”：%2"_s.arg(NameText::shown(clean), systemText(errno)));
    return walkFolder(folder, name, clean);
}

// Adds one item: a file or folder as an entry, anything else counted.
bool SetWalker::add(const QString &path, const QString &localPath, const struct stat &status)
{
    if (S_ISLNK(status.st_mode)) {
        ++set_.skippedLinks;
        return true;
    }
    if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
        ++set_.skippedOther;
        return true;
    }
    if (set_.manifest.entries.size() >= Manifest::MaxEntries)
        return fail(u"一次最多发送 %1 个文件和文件夹"_s.arg(Manifest::MaxEntries));
    QString why;
    if (!Manifest::isSafePath(path, &why))
        return fail(u"“%1”不能发送，因为它的路径%2"_s.arg(NameText::shown(path), why));
    const NameEncoding encoding = set_.manifest.encoding;
    const QByteArray bytes = NameText::encode(path, encoding);
    if (NameText::decode(bytes, encoding) != path)
        return fail(u"“%1”不能发送，因为它的名字无法用对方的编码表示"_s.arg(NameText::shown(path)));
    if (bytes.size() > Manifest::MaxPathBytes)
        return fail(u"“%1”不能发送，因为它的路径超过 %2 字节"_s.arg(NameText::shown(path)).arg(Manifest::MaxPathBytes));
    const bool folder = S_ISDIR(status.st_mode);
    set_.manifest.entries << ManifestEntry{folder ? ManifestEntry::Kind::Folder : ManifestEntry::Kind::File, path,
                                           folder ? 0 : qint64(status.st_size), modifiedMs(status)};
    set_.localPaths << localPath;
    return true;
}

bool SetWalker::walkFolder(const Descriptor &folder, const QString &path, const QString &localPath)
{
    const std::optional<QList<FolderItem>> items = readFolder(folder, path);
    if (!items)
        return false;
    for (const FolderItem &item : *items) {
        const QString itemPath = path + u'/' + item.name;
        const QString itemLocalPath = localPath + u'/' + item.name;
        if (!add(itemPath, itemLocalPath, item.status))
            return false;
        if (!S_ISDIR(item.status.st_mode))
            continue;
        Descriptor inner(::openat(folder.get(), QFile::encodeName(item.name).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.isOpen())
            return fail(u"无法读取文件夹“%1”：%2"_s.arg(NameText::shown(itemLocalPath), systemText(errno)));
        if (!walkFolder(inner, itemPath, itemLocalPath))
            return false;
    }
    return true;
}

// The items of a folder with their status (of the item itself, not of what a link points at),
// sorted by name.
std::optional<QList<FolderItem>> SetWalker::readFolder(const Descriptor &folder, const QString &path)
{
    const auto failed = [&](int error) {
        fail(u"无法读取文件夹“%1”：%2"_s.arg(NameText::shown(path), systemText(error)));
        return std::nullopt;
    };
    // The listing gets a descriptor of its own: closedir() closes it.
    const int listed = ::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0);
    DIR *dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        const int error = errno;
        if (listed >= 0)
            ::close(listed);
        return failed(error);
    }
    QList<FolderItem> items;
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent *found = ::readdir(dir);
        if (!found) {
            error = errno;
            break;
        }
        const QByteArray name(found->d_name);
        if (name == "." || name == "..")
            continue;
        const std::optional<QString> decoded = NameText::decode(name, NameEncoding::Utf8);
        if (!decoded) {
            ::closedir(dir);
            const QString shownName = NameText::shown(path) + u'/' + NameText::shownBytes(name, NameEncoding::Utf8);
            fail(u"“%1”不能发送，因为它的名字不是有效的 UTF-8 编码"_s.arg(shownName));
            return std::nullopt;
        }
        FolderItem item{*decoded, {}};
        if (::fstatat(folder.get(), name.constData(), &item.status, AT_SYMLINK_NOFOLLOW) != 0) {
            error = errno;
            break;
        }
        items << item;
        if (set_.manifest.entries.size() + items.size() > Manifest::MaxEntries) {
            ::closedir(dir);
            fail(u"一次最多发送 %1 个文件和文件夹"_s.arg(Manifest::MaxEntries));
            return std::nullopt;
        }
    }
    ::closedir(dir);
    if (error != 0)
        return failed(error);
    std::sort(items.begin(), items.end(), [](const FolderItem &a, const FolderItem &b) { return a.name < b.name; });
    return items;
}

// The manifest must pass the receiver's checks as it stands: what it refuses is refused here.
bool SetWalker::finish()
{
    if (set_.manifest.entries.isEmpty())
        return fail(u"没有可以发送的文件或文件夹（符号链接不会发送）"_s);
    QString refusal;
    if (!Manifest::parse(set_.manifest.encode(), &refusal))
        return fail(refusal);
    return true;
}

} // namespace

std::optional<LocalSet> walkSet(const QStringList &chosen, NameEncoding encoding, QString *error)
{
    SetWalker walker(encoding);
    for (const QString &path : chosen) {
        if (!walker.addChosen(path)) {
            if (error)
                *error = walker.error();
            return std::nullopt;
        }
    }
    if (!walker.finish()) {
        if (error)
            *error = walker.error();
        return std::nullopt;
    }
    return std::move(walker.set());
}
