#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// An INI file with private-profile semantics: every read parses the file anew and every change
// is in the file when the call returns. Section and key names match without regard to ASCII
// case; values are raw bytes (GBK text) and are kept exactly. Reads accept CRLF and LF lines;
// writes use CRLF. A file that is not INI text at all reads as having no keys.
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

    // value with every control character replaced by '?'.
    static QByteArray withoutControlCharacters(QByteArray value);

private:
    void save(const Contents &contents) const;
    QString path_;
};
