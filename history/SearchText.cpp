#include "history/SearchText.h"

#include <QList>

#include <algorithm>
#include <sqlite3.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int Trigram = 3;

bool hasCase(char32_t c)
{
    return QChar::toLower(c) != c || QChar::toUpper(c) != c || QChar::toCaseFolded(c) != c;
}

QString quoted(const QString &term)
{
    QString escaped = term;
    escaped.replace(u'"', u"\"\""_s);
    return u'"' + escaped + u'"';
}

// Where the trigrams asked of the index start: every third character, and the last three, so
// that every character is in one; evenly spread over the text when that is too many.
QList<qsizetype> trigramStarts(qsizetype characters)
{
    QList<qsizetype> starts;
    for (qsizetype at = 0; at + Trigram <= characters; at += Trigram)
        starts.append(at);
    if (starts.last() != characters - Trigram)
        starts.append(characters - Trigram);
    if (starts.size() <= SearchText::MaxIndexTerms)
        return starts;
    starts.clear();
    const qsizetype span = characters - Trigram;
    for (int i = 0; i < SearchText::MaxIndexTerms; ++i)
        starts.append(span * i / (SearchText::MaxIndexTerms - 1));
    return starts;
}

// history_contains(text, needle). The needle is the same for every row of a statement: it is
// made once and kept with the statement.
void containsFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    auto *needle = static_cast<SearchText *>(sqlite3_get_auxdata(context, 1));
    const bool made = !needle;
    if (made) {
        const auto *data = static_cast<const char16_t *>(sqlite3_value_text16(arguments[1]));
        needle = new SearchText(QStringView(data, sqlite3_value_bytes16(arguments[1]) / 2).toString());
    }
    const auto *text = static_cast<const char16_t *>(sqlite3_value_text16(arguments[0]));
    const QStringView haystack(text, text ? sqlite3_value_bytes16(arguments[0]) / 2 : 0);
    sqlite3_result_int(context, !needle->isEmpty() && needle->indexIn(haystack) >= 0);
    // Handed over last: SQLite may free it at once.
    if (made)
        sqlite3_set_auxdata(context, 1, needle, [](void *p) { delete static_cast<SearchText *>(p); });
}

} // namespace

SearchText::SearchText(const QString &typed)
{
    text_ = typed.trimmed();
    text_.remove(QChar(0));
    const QList<uint> codePoints = text_.toUcs4();
    characters_ = int(codePoints.size());
    if (std::any_of(codePoints.begin(), codePoints.end(), [](uint c) { return hasCase(char32_t(c)); }))
        caseSensitivity_ = Qt::CaseInsensitive;
}

QString SearchText::indexQuery() const
{
    if (!usesIndex())
        return {};
    const QList<uint> codePoints = text_.toUcs4();
    QStringList terms;
    for (qsizetype start : trigramStarts(codePoints.size())) {
        const QString term = QString::fromUcs4(
            reinterpret_cast<const char32_t *>(codePoints.constData() + start), Trigram);
        if (!terms.contains(term))
            terms.append(term);
    }
    for (QString &term : terms)
        term = quoted(term);
    return terms.join(u" AND "_s);
}

qsizetype SearchText::indexIn(QStringView haystack, qsizetype from) const
{
    return haystack.indexOf(text_, from, caseSensitivity_);
}

void SearchText::registerFunction(sqlite3 *db)
{
    sqlite3_create_function_v2(db, "history_contains", 2, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr,
                               containsFunction, nullptr, nullptr, nullptr);
}

Excerpt Excerpt::around(QStringView message, const SearchText &search)
{
    const qsizetype size = message.size();
    const qsizetype length = search.text().size();
    qsizetype first = search.indexIn(message);
    if (first < 0)
        first = 0;
    qsizetype start = std::max<qsizetype>(0, first - Lead);
    if (start > 0 && message[start].isLowSurrogate())
        --start;
    qsizetype end = std::min(size, std::max(start + Length, first + length));
    if (end < size && message[end].isLowSurrogate())
        ++end;

    Excerpt excerpt;
    const QString before = start > 0 ? u"…"_s : QString();
    QString piece = message.sliced(start, end - start).toString();
    for (QChar &c : piece) {
        if (c == u'\r' || c == u'\n' || c == u'\t')
            c = u' ';
    }
    excerpt.text = before + piece + (end < size ? u"…"_s : QString());
    if (length == 0)
        return excerpt;
    for (qsizetype at = search.indexIn(message, start); at >= 0 && at + length <= end;
         at = search.indexIn(message, at + length))
        excerpt.marks.append({int(at - start + before.size()), int(length)});
    return excerpt;
}
