#pragma once

#include "history/HistoryTypes.h"

#include <QString>
#include <QStringView>

struct sqlite3;

// What a person typed into the search box, made ready to search for as plain text: never as
// SQL, never as the full-text index's query language.
class SearchText {
public:
    // Trigrams of a long query asked of the index; the whole query is checked on each
    // candidate anyway, so more would only make the index read more.
    static constexpr int MaxIndexTerms = 8;

    // Leading and trailing white space is dropped, and NUL characters.
    explicit SearchText(const QString &typed);

    bool isEmpty() const { return text_.isEmpty(); }
    const QString &text() const { return text_; }
    // Case-insensitive when the text holds a letter with case (Latin, Greek, Cyrillic ...).
    Qt::CaseSensitivity caseSensitivity() const { return caseSensitivity_; }
    // Characters as the trigram index counts them (code points: an emoji is one).
    int characters() const { return characters_; }
    // Three characters and more are found through the trigram index; fewer by a scan.
    bool usesIndex() const { return characters_ >= 3; }
    // More than three characters: the index's answer holds every row with all the trigrams
    // asked, in any place, and each must be checked for the whole text.
    bool needsCheck() const { return characters_ > 3; }

    // The index's query: each trigram a quoted string (a quote inside doubled), joined by AND.
    // Only when usesIndex().
    QString indexQuery() const;

    // Positions of the text in haystack, first one from `from` on.
    qsizetype indexIn(QStringView haystack, qsizetype from = 0) const;

    // Registers the SQL function history_contains(text, needle) on a connection: 1 when text
    // contains needle, with the case rule above; what the scan and the check use.
    static void registerFunction(sqlite3 *db);

private:
    QString text_;
    Qt::CaseSensitivity caseSensitivity_ = Qt::CaseSensitive;
    int characters_ = 0;
};

// A piece of a message's text around the first place the search text is found, for one line
// of a result list.
struct Excerpt {
    // Characters shown before the first hit, and in all, at most.
    static constexpr int Lead = 20;
    static constexpr int Length = 100;

    QString text;
    QList<TextSpan> marks;

    static Excerpt around(QStringView message, const SearchText &search);
};
