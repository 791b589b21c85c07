#include "fileset/SetPlacement.h"

#include <QDir>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

QByteArray local(const QString &name)
{
    return QFile::encodeName(name);
}

bool isPlainName(const QString &name)
{
    return Manifest::isSafePath(name, nullptr) && !name.contains(u'/');
}

// name with " (number)" before its last suffix (or at its end, for a folder or a name without
// one), its stem cut so that the whole stays within the bound of a name.
QString clashName(const QString &name, int number, bool keepSuffix)
{
    QString stem = name;
    QString suffix;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (keepSuffix && dot > 0 && NameText::localBytes(QStringView(name).mid(dot)) <= SetPlacement::MaxSuffixBytes) {
        stem = name.left(dot);
        suffix = name.mid(dot);
    }
    const QString mark = u" (%1)"_s.arg(number);
    const int room = Manifest::MaxNameBytes - NameText::localBytes(mark) - NameText::localBytes(suffix);
    return NameText::truncated(stem, room, NameEncoding::Utf8) + mark + suffix;
}

// Renames from to a free name in folder: name, else the clash names of name in turn. The name
// taken, or empty with errno set.
QString renameToFree(int folder, const QByteArray &from, const QString &name)
{
    for (int number = 1; number <= SetPlacement::MaxClashNumber; ++number) {
        const QString candidate = number == 1 ? name : clashName(name, number, true);
        const QByteArray to = local(candidate);
        if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0)
            return candidate;
        if (errno == EINVAL) {
            // A file system without a no-replace rename: a hard link is made only where no name
            // is, and then the temporary name goes.
            if (::linkat(folder, from.constData(), folder, to.constData(), 0) == 0) {
                ::unlinkat(folder, from.constData(), 0);
                return candidate;
            }
        }
        if (errno != EEXIST)
            return {};
    }
    errno = EEXIST;
    return {};
}

timespec timeOf(qint64 ms)
{
    qint64 seconds = ms / 1000;
    qint64 rest = ms % 1000;
    if (rest < 0) {
        --seconds;
        rest += 1000;
    }
    return timespec{time_t(seconds), long(rest * 1000000)};
}

} // namespace

SetPlacement::SetPlacement(QString root, QByteArray setId, Manifest manifest)
    : root_(QDir::cleanPath(root)), setId_(std::move(setId)), manifest_(std::move(manifest)),
      partPrefix_('.' + setId_.toHex().left(8) + '-')
{
    // Each path is checked once: a set's files are placed many times over.
    safe_.reserve(manifest_.entries.size());
    for (const ManifestEntry &entry : std::as_const(manifest_.entries))
        safe_.push_back(Manifest::isSafePath(entry.path, nullptr));
}

void SetPlacement::setTopNames(const QHash<QString, QString> &names)
{
    cachedFolder_.reset();
    topNames_.clear();
    for (const ManifestEntry &e : std::as_const(manifest_.entries)) {
        const auto placed = names.constFind(e.path);
        if (e.isFolder() && placed != names.cend() && isPlainName(*placed))
            topNames_.insert(e.path, *placed);
    }
}

bool SetPlacement::makeFolders(QString *error)
{
    cachedFolder_.reset();
    const Descriptor root = openRoot(error);
    if (!root.isOpen())
        return false;
    for (int i = 0; i < manifest_.entries.size(); ++i) {
        const ManifestEntry &entry = manifest_.entries.at(i);
        if (!entry.isFolder())
            continue;
        if (!entry.path.contains(u'/')) {
            if (!makeTopFolder(root, entry.path, error))
                return false;
            continue;
        }
        const std::optional<QStringList> names = placedNames(i);
        if (!names) {
            *error = u"“%1”不能放在这里"_s.arg(NameText::shown(entry.path));
            return false;
        }
        const Descriptor parent = openFolder(names->mid(0, names->size() - 1), error);
        if (!parent.isOpen())
            return false;
        const QByteArray name = local(names->last());
        if (::mkdirat(parent.get(), name.constData(), 0777) != 0 && errno != EEXIST) {
            *error = u"无法建立文件夹“%1”：%2"_s.arg(NameText::shown(absolutePath(*names)), systemText(errno));
            return false;
        }
        // What exists under that name must be a folder, and no link to one.
        if (!Descriptor(::openat(parent.get(), name.constData(), DirectoryFlags)).isOpen()) {
            *error = u"无法使用文件夹“%1”：%2"_s.arg(NameText::shown(absolutePath(*names)), systemText(errno));
            return false;
        }
    }
    return true;
}

// A top-level folder: under the name kept for it, else under the first free one of its name
// and its clash names. Folders are made, never taken over: a name that exists is skipped.
bool SetPlacement::makeTopFolder(const Descriptor &root, const QString &name, QString *error)
{
    const auto kept = topNames_.constFind(name);
    if (kept != topNames_.cend()) {
        const QByteArray placed = local(*kept);
        if (::mkdirat(root.get(), placed.constData(), 0777) == 0 || errno == EEXIST) {
            if (Descriptor(::openat(root.get(), placed.constData(), DirectoryFlags)).isOpen())
                return true;
        }
        *error = u"无法使用文件夹“%1”：%2"_s.arg(NameText::shown(absolutePath({*kept})), systemText(errno));
        return false;
    }
    if (!isPlainName(name)) {
        *error = u"“%1”不能放在这里"_s.arg(NameText::shown(name));
        return false;
    }
    for (int number = 1; number <= MaxClashNumber; ++number) {
        const QString candidate = number == 1 ? name : clashName(name, number, false);
        if (::mkdirat(root.get(), local(candidate).constData(), 0777) == 0) {
            topNames_.insert(name, candidate);
            return true;
        }
        if (errno != EEXIST) {
            *error = u"无法建立文件夹“%1”：%2"_s.arg(NameText::shown(absolutePath({candidate})), systemText(errno));
            return false;
        }
    }
    *error = u"“%1”中已有太多名为“%2”的文件夹"_s.arg(NameText::shown(root_), NameText::shown(name));
    return false;
}

QString SetPlacement::tempPath(int index) const
{
    const std::optional<QStringList> names = placedNames(index);
    if (!isFile(index) || !names)
        return {};
    return absolutePath(names->mid(0, names->size() - 1) << QString::fromLatin1(partName(index)));
}

qint64 SetPlacement::heldBytes(int index) const
{
    if (!isFile(index))
        return 0;
    const Descriptor &parent = parentOf(index, nullptr);
    struct stat status {};
    if (!parent.isOpen()
        || ::fstatat(parent.get(), partName(index).constData(), &status, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(status.st_mode) || status.st_size > manifest_.entries.at(index).size)
        return 0;
    return status.st_size;
}

// The temporary file as it stands (a resume, or one left from before), checked and cut to offset.
bool SetPlacement::openExisting(const Descriptor &parent, const QByteArray &name, qint64 offset, Descriptor &part,
                                QString *error, const std::function<QString()> &shownPath) const
{
    // Without O_NONBLOCK a planted pipe would hold the open until someone read it.
    part = Descriptor(::openat(parent.get(), name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!part.isOpen()) {
        *error = u"无法写入“%1”：%2"_s.arg(shownPath(), systemText(errno));
        return false;
    }
    // A second hard link would let the writing reach a file elsewhere.
    struct stat status {};
    if (::fstat(part.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
        *error = u"无法写入“%1”：它不是一个普通文件"_s.arg(shownPath());
        return false;
    }
    const int flags = ::fcntl(part.get(), F_GETFL);
    // Cut only when there is something to cut: truncating a new, empty file makes some file
    // systems (ext4) write it out at once when it closes, file by file.
    if (flags < 0 || ::fcntl(part.get(), F_SETFL, flags & ~O_NONBLOCK) != 0
        || (status.st_size != offset && ::ftruncate(part.get(), offset) != 0)) {
        *error = u"无法写入“%1”：%2"_s.arg(shownPath(), systemText(errno));
        return false;
    }
    return true;
}

Descriptor SetPlacement::openPart(int index, qint64 offset, QString *error)
{
    if (!isFile(index)) {
        *error = u"对方发送了清单中没有的文件（第 %1 项）"_s.arg(index);
        return Descriptor();
    }
    // Only a failure needs the path in words.
    const auto shownPath = [&] { return NameText::shown(tempPath(index)); };
    if (offset < 0 || (offset > 0 && offset > heldBytes(index))) {
        *error = u"无法从第 %1 字节续传“%2”：已收到的数据没有那么多"_s.arg(offset).arg(shownPath());
        return Descriptor();
    }
    const Descriptor &parent = parentOf(index, error);
    if (!parent.isOpen())
        return Descriptor();
    const QByteArray name = partName(index);
    // A file from its start is made anew: a file this call made is a regular file with one
    // link, and empty, so it needs no further look (a set of many small files makes many).
    Descriptor part(offset == 0 ? ::openat(parent.get(), name.constData(),
                                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)
                                : -1);
    if (!part.isOpen() && !openExisting(parent, name, offset, part, error, shownPath))
        return Descriptor();
    if (offset > 0 && ::lseek(part.get(), offset, SEEK_SET) != offset) {
        *error = u"无法写入“%1”：%2"_s.arg(shownPath(), systemText(errno));
        return Descriptor();
    }
    return part;
}

QString SetPlacement::finish(int index, QString *error, Written written)
{
    const QString placed = place(index, error, written);
    if (placed.isEmpty())
        return {};
    QStringList names = *placedNames(index);
    names.last() = placed;
    return absolutePath(names);
}

bool SetPlacement::placeWhole(int index, QString *error) { return !place(index, error, Written::Whole).isEmpty(); }

QString SetPlacement::place(int index, QString *error, Written written)
{
    if (!isFile(index) || !safe_[size_t(index)]) {
        *error = u"对方发送了清单中没有的文件（第 %1 项）"_s.arg(index);
        return {};
    }
    const ManifestEntry &entry = manifest_.entries.at(index);
    const Descriptor &parent = parentOf(index, error);
    if (!parent.isOpen())
        return {};
    const QByteArray part = partName(index);
    struct stat status {};
    if (written != Written::Whole
        && (::fstatat(parent.get(), part.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode)
            || status.st_size != entry.size)) {
        *error = u"“%1”不完整，无法放置"_s.arg(NameText::shown(tempPath(index)));
        return {};
    }
    // The time is a courtesy: a file system that cannot hold it still gets the file.
    const timespec times[2] = {{0, UTIME_OMIT}, timeOf(entry.modifiedMs)};
    ::utimensat(parent.get(), part.constData(), times, AT_SYMLINK_NOFOLLOW);
    // A file's own name is never a top-level folder's, so it is the manifest's last name.
    const QString &path = entry.path;
    const QString placed = renameToFree(parent.get(), part, path.mid(path.lastIndexOf(u'/') + 1));
    if (placed.isEmpty())
        *error = u"无法放置“%1”：%2"_s.arg(NameText::shown(absolutePath(*placedNames(index))), systemText(errno));
    return placed;
}

void SetPlacement::discardParts()
{
    for (int i = 0; i < manifest_.entries.size(); ++i) {
        if (!isFile(i))
            continue;
        const Descriptor &parent = parentOf(i, nullptr);
        const QByteArray part = partName(i);
        struct stat status {};
        if (parent.isOpen() && ::fstatat(parent.get(), part.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(status.st_mode))
            ::unlinkat(parent.get(), part.constData(), 0);
    }
}

qint64 SetPlacement::freeBytes(const QString &folder)
{
    struct statvfs status {};
    if (::statvfs(local(folder).constData(), &status) != 0)
        return -1;
    return qint64(status.f_bavail) * qint64(status.f_frsize);
}

// The names of an entry's path below root, its top-level folder under its placed name; nothing
// for an index out of range or a path that could step out of its folder.
std::optional<QStringList> SetPlacement::placedNames(int index) const
{
    if (index < 0 || index >= manifest_.entries.size() || !safe_[size_t(index)])
        return std::nullopt;
    QStringList names = manifest_.entries.at(index).path.split(u'/');
    if (names.size() > 1)
        names.first() = topNames_.value(names.first(), names.first());
    return names;
}

Descriptor SetPlacement::openRoot(QString *error) const
{
    // root itself is the person's choice and may be a link; nothing below it is followed.
    Descriptor root(::open(local(root_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.isOpen() && error)
        *error = u"无法打开文件夹“%1”：%2"_s.arg(NameText::shown(root_), systemText(errno));
    return root;
}

Descriptor SetPlacement::openFolder(const QStringList &names, QString *error) const
{
    Descriptor folder = openRoot(error);
    for (qsizetype i = 0; i < names.size() && folder.isOpen(); ++i) {
        folder = Descriptor(::openat(folder.get(), local(names.at(i)).constData(), DirectoryFlags));
        if (!folder.isOpen() && error)
            *error = u"无法打开文件夹“%1”：%2"_s.arg(NameText::shown(absolutePath(names.mid(0, i + 1))),
                                                     systemText(errno));
    }
    return folder;
}

const Descriptor &SetPlacement::parentOf(int index, QString *error) const
{
    if (index < 0 || index >= manifest_.entries.size() || !safe_[size_t(index)]) {
        if (error)
            *error = u"清单中没有第 %1 项"_s.arg(index);
        cachedFolder_.reset();
        return cachedFolder_;
    }
    // Compared as the manifest names it, so that the next file of the same folder costs no
    // list of names.
    const QString &path = manifest_.entries.at(index).path;
    const QStringView folderPath = QStringView(path).left(qMax<qsizetype>(0, path.lastIndexOf(u'/')));
    if (!cachedFolder_.isOpen() || folderPath != cachedFolderPath_) {
        const QStringList names = *placedNames(index);
        cachedFolder_ = openFolder(names.mid(0, names.size() - 1), error);
        cachedFolderPath_ = folderPath.toString();
    }
    return cachedFolder_;
}

bool SetPlacement::isFile(int index) const
{
    return index >= 0 && index < manifest_.entries.size() && !manifest_.entries.at(index).isFolder();
}

QByteArray SetPlacement::partName(int index) const { return partPrefix_ + QByteArray::number(index) + ".part"; }

QString SetPlacement::absolutePath(const QStringList &names) const
{
    return root_ + u'/' + names.join(u'/');
}
