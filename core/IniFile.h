#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

struct stat;

// An INI file with private-profile semantics: every read sees the file as it is now and every
// change is in the file when the call returns. Section and key names match without regard to
// ASCII case; values are raw bytes (GBK text) and are kept exactly. Reads accept CRLF and LF
// lines; writes use CRLF. A file that is not INI text at all reads as having no keys.
// What was parsed is kept while the file stays the same version (device, inode, size,
// modification and status-change times to the nanosecond), so a read costs one stat() while
// nobody changes the file; a change by another program is seen at the next read, and a write
// through this object keeps what it wrote. One object is used by one thread at a time.
class IniFile {
public:
    // The file parsed once: for operations that read many keys with nothing in between.
    class Contents {
    public:
        // Value of section/key (blanks around it removed), nullopt when absent.
        std::optional<QByteArray> value(const QString &section, const QString &key) const;
        // Decimal value of section/key: def when absent, 0 when not a number that fits an int.
        int integer(const QString &section, const QString &key, int def = 0) const;
        // The keys of section that are decimal numbers from 1 to upTo (no sign, no leading
        // zeros), with their values, in ascending order; the first occurrence of a key counts.
        QList<std::pair<qint64, QByteArray>> numberedValues(const QString &section, qint64 upTo) const;
        // The name of the first key of section whose value is value exactly.
        std::optional<QByteArray> keyWithValue(const QString &section, const QByteArray &value) const;

    private:
        friend class IniFile;
        struct Line {
            enum Kind { Other, Section, Key } kind = Other;
            QByteArray raw;   // the line as it stands in the file, without its line end
            QByteArray name;  // section or key name, blanks removed
            QByteArray value; // value of a key line, blanks removed
        };
        static Contents parse(const QByteArray &bytes);
        QByteArray serialize() const;
        qsizetype findSection(const QByteArray &section) const;
        qsizetype sectionEnd(qsizetype header) const;
        qsizetype findKey(qsizetype header, const QByteArray &key) const;
        QList<Line> lines;
    };

    explicit IniFile(const QString &path);

    // Full path of the file, as named in error texts.
    QString fileName() const { return path_; }

    // Value of section/key, or def when the key (or the file) is absent.
    QByteArray readString(const QString &section, const QString &key, const QByteArray &def = {}) const;
    // Decimal value of section/key: def when absent, 0 when the value is not a number that fits.
    int readInteger(const QString &section, const QString &key, int def = 0) const;

    // section/key := value, creating the file, section and key as needed. Control characters
    // (bytes below 0x20 and 0x7F) in value become '?', so a value can never add lines or
    // sections. Throws Exception "Unable to write to <path>" when the file cannot be written;
    // the file then keeps its previous contents.
    void writeString(const QString &section, const QString &key, const QByteArray &value);
    // writeString with the decimal text of value.
    void writeInteger(const QString &section, const QString &key, qint64 value);
    // Removes section/key (every line of it, should the key stand in the section more than
    // once). A missing key, and a write that fails, are not reported.
    void deleteKey(const QString &section, const QString &key);
    // Removes every section of that name with all its keys. A missing section or file is not
    // an error; a write that fails throws like writeString.
    void eraseSection(const QString &section);

    // The whole file parsed once (empty when it does not exist or cannot be read).
    Contents contents() const;
    // Changes whenever contents() may give something else than before (the file was read anew,
    // or written through this object); stays the same while it gives what it kept, so that a
    // caller may keep what it worked out from the contents of one generation.
    quint64 generation() const { return generation_; }

    // value with every control character replaced by '?'.
    static QByteArray withoutControlCharacters(QByteArray value);

private:
    // One version of the file as stat() tells it apart from another. A save renames a new file
    // over the old one (another inode); a change in place moves the status-change time, which
    // no program can set back.
    struct Version {
        qint64 device = 0;
        qint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        friend bool operator==(const Version &, const Version &) = default;
    };
    // The version described by a stat() answer; nullopt when it is not a regular file.
    static std::optional<Version> versionOf(const struct stat &info);
    // The version of the regular file at path_, nullopt when there is none.
    std::optional<Version> currentVersion() const;
    void save(const Contents &contents) const;
    // After a save: keeps contents as what the file holds, when the file is still the one
    // written (tempVersion: the written file before it took the file's name).
    void remember(const Version &tempVersion, const QByteArray &bytes) const;

    QString path_;
    QByteArray nativePath_;
    // What was parsed, and the version of the file it was parsed from.
    mutable std::optional<Version> cachedVersion_;
    mutable Contents cached_;
    mutable quint64 generation_ = 1;
};
