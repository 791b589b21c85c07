#pragma once

#include "fileset/Descriptor.h"
#include "fileset/Manifest.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Where a received file set goes: its folders and files under a root folder the person chose.
// Every step below root goes from a descriptor of the folder above with O_NOFOLLOW, so a
// symbolic link inside root, planted or not, never leads anywhere: a step onto one fails.
// Nothing that exists is ever replaced or removed but the set's own temporary files.
//
// A top-level folder whose name is taken under root gets "name (2)", "name (3)" ...; a file
// whose final name is taken, "stem (2).ext" ... . Each file arrives in a temporary file beside
// its final name, ".<first 8 hex digits of the set id>-<entry index>.part", which stays for a
// later resume until the file is complete.
//
// The index of every call is the manifest's entry index, as the peer sends it: it is checked.
class SetPlacement {
public:
    // Highest number a clashing name gets before placing fails.
    static constexpr int MaxClashNumber = 999;
    // Longest suffix (".jpg") kept after a clash number; a longer one counts as part of the stem.
    static constexpr int MaxSuffixBytes = 32;

    SetPlacement(QString root, QByteArray setId, Manifest manifest);

    // The names under root of the set's top-level folders, by their names in the manifest,
    // once makeFolders() has chosen them. Kept with the set, so that a resume finds them.
    QHash<QString, QString> topNames() const { return topNames_; }
    // Names kept from before; what is no top-level folder of the manifest, or no plain name,
    // is left out.
    void setTopNames(const QHash<QString, QString> &names);

    // Makes every folder of the manifest (mode 0777 less the umask). A folder this set made
    // before is taken as it is. False and error (a sentence for the person) on a failure.
    bool makeFolders(QString *error);

    // The absolute path of a file entry's temporary file; empty for no file entry.
    QString tempPath(int index) const;
    // The bytes the temporary file of a file entry holds: where its transfer resumes. 0 when
    // there is none, or it is no regular file, or longer than the entry.
    qint64 heldBytes(int index) const;
    // The temporary file of a file entry opened for writing, cut to offset and positioned there
    // (offset at most heldBytes(index)). A closed descriptor and error on a failure. A plain
    // descriptor, not a QFile: a set of many small files opens one per file, and a QFile's
    // object and its looks at the file cost more than the file's own system calls.
    Descriptor openPart(int index, qint64 offset, QString *error);
    // Puts a complete file in place: the temporary file gets the manifest's modification time
    // and is renamed to the entry's name, or to a free "stem (n).ext" when that is taken. The
    // final absolute path, or empty and error.
    // written: the caller has just written the whole file through openPart(), so the look at
    // its size is skipped (one system call less per file of a set of many small ones).
    enum class Written { Unknown, Whole };
    QString finish(int index, QString *error, Written written = Written::Unknown);
    // finish() of a file just written whole through openPart(), for a caller that needs no path
    // back: false and error on a failure.
    bool placeWhole(int index, QString *error);
    // Removes the temporary files of the set (a cancelled set); folders and files in place stay.
    void discardParts();

    // Bytes free for this user on the file system of folder; -1 when unknown.
    static qint64 freeBytes(const QString &folder);

private:
    std::optional<QStringList> placedNames(int index) const;
    Descriptor openRoot(QString *error) const;
    Descriptor openFolder(const QStringList &names, QString *error) const;
    // The folder an entry goes in, opened as openFolder does. The last one is kept open, since
    // a set's files come folder by folder: a file then costs no walk from root.
    const Descriptor &parentOf(int index, QString *error) const;
    bool openExisting(const Descriptor &parent, const QByteArray &name, qint64 offset, Descriptor &part,
                      QString *error, const std::function<QString()> &shownPath) const;
    bool makeTopFolder(const Descriptor &root, const QString &name, QString *error);
    bool isFile(int index) const;
    // The temporary file's name in its folder, as the file system has it.
    QByteArray partName(int index) const;
    // Gives the manifest's time to the temporary file and renames it into place: the name it
    // took in its folder, or empty and error.
    QString place(int index, QString *error, Written written);
    QString absolutePath(const QStringList &names) const;

    QString root_;
    QByteArray setId_;
    Manifest manifest_;
    QHash<QString, QString> topNames_;
    std::vector<bool> safe_; // each entry's path is safe (checked once)
    QByteArray partPrefix_;            // "." and the set id's first 8 hexadecimal digits and "-"
    mutable QString cachedFolderPath_; // the folder parentOf() opened last, as the manifest names it
    mutable Descriptor cachedFolder_;
};
