#include "history/LogStamp.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

using namespace Qt::Literals::StringLiterals;

namespace {

// A date and a time of day hold at most seven numbers (with milliseconds) and a few words
// (month, AM/PM, 年月日); a header with more is text that only looks like one.
constexpr int MaxNumbers = 7;
constexpr int MaxWords = 6;
constexpr int MaxDigits = 4;

struct Number {
    int value = 0;
    int digits = 0;
};

// The texts without dots, in lower case.
QString plain(const QString &text)
{
    QString word = text.toLower();
    word.remove(u'.');
    return word;
}

} // namespace

LogStamp::LogStamp()
{
    const QLocale system = QLocale::system();
    const QString format = system.dateFormat(QLocale::ShortFormat);
    const qsizetype day = format.indexOf(u'd'), month = format.indexOf(u'M'), year = format.indexOf(u'y');
    yearFirst_ = year >= 0 && (day < 0 || year < day) && (month < 0 || year < month);
    dayFirst_ = day >= 0 && month >= 0 && day < month;
    const QList<QLocale> locales{system, QLocale::c(), QLocale(QLocale::Chinese, QLocale::China)};
    for (int m = 1; m <= 12; ++m) {
        QStringList names;
        for (const QLocale &locale : locales) {
            for (QLocale::FormatType type : {QLocale::LongFormat, QLocale::ShortFormat}) {
                names.append(plain(locale.monthName(m, type)));
                names.append(plain(locale.standaloneMonthName(m, type)));
            }
        }
        names.removeDuplicates();
        names.removeAll(QString());
        monthNames_.append(names);
    }
    for (const QLocale &locale : locales) {
        amTexts_.append(plain(locale.amText()));
        pmTexts_.append(plain(locale.pmText()));
    }
    amTexts_ << u"am"_s << u"凌晨"_s << u"早上"_s;
    pmTexts_ << u"pm"_s << u"晚上"_s;
    thisYear_ = QDate::currentDate().year();
}

int LogStamp::monthOf(const QString &word) const
{
    for (int m = 0; m < monthNames_.size(); ++m) {
        if (monthNames_[m].contains(word))
            return m + 1;
    }
    return 0;
}

std::optional<qint64> LogStamp::parse(QStringView text) const
{
    if (text.size() > MaxLength)
        return {};
    QList<Number> numbers;
    QStringList words;
    Number number;
    QString word;
    const auto endNumber = [&] {
        if (number.digits > 0)
            numbers.append(number);
        number = {};
    };
    const auto endWord = [&] {
        if (!word.isEmpty())
            words.append(plain(word));
        word.clear();
    };
    for (QChar c : text) {
        if (c.isDigit()) {
            endWord();
            if (++number.digits > MaxDigits)
                return {};
            number.value = number.value * 10 + c.digitValue();
        } else if (c.isLetter()) {
            endNumber();
            word += c;
        } else {
            endNumber();
            endWord();
        }
    }
    endNumber();
    endWord();
    if (numbers.size() > MaxNumbers || words.size() > MaxWords)
        return {};

    int month = 0;
    bool am = false, pm = false;
    for (const QString &w : words) {
        if (!month)
            month = monthOf(w);
        am = am || amTexts_.contains(w);
        pm = pm || pmTexts_.contains(w);
    }
    Number year, day;
    qsizetype next = 0;
    if (month) {
        if (numbers.size() < 4)
            return {};
        const bool yearSecond = numbers[1].digits == 4 || (numbers[0].digits != 4 && !yearFirst_);
        year = yearSecond ? numbers[1] : numbers[0];
        day = yearSecond ? numbers[0] : numbers[1];
        next = 2;
    } else {
        if (numbers.size() < 5)
            return {};
        Number monthNumber;
        if (numbers[0].digits == 4 || (yearFirst_ && numbers[2].digits != 4)) {
            year = numbers[0], monthNumber = numbers[1], day = numbers[2];
        } else if (dayFirst_) {
            day = numbers[0], monthNumber = numbers[1], year = numbers[2];
        } else {
            monthNumber = numbers[0], day = numbers[1], year = numbers[2];
        }
        if (monthNumber.value > 12 && day.value <= 12)
            std::swap(monthNumber, day);
        if (monthNumber.digits > 2)
            return {};
        month = monthNumber.value;
        next = 3;
    }
    if (day.digits > 2 || (year.digits != 2 && year.digits != 4))
        return {};
    int y = year.value;
    if (year.digits == 2) {
        y += 2000;
        if (y > thisYear_ + 1)
            y -= 100;
    }
    const QList<Number> clock = numbers.mid(next);
    if (clock.size() < 2 || clock[0].digits > 2 || clock[1].digits > 2
        || (clock.size() > 2 && clock[2].digits > 2))
        return {};
    int hour = clock[0].value;
    if (pm && hour < 12)
        hour += 12;
    else if (am && hour == 12)
        hour = 0;
    const QDate date(y, month, day.value);
    const QTime time(hour, clock[1].value, clock.size() > 2 ? clock[2].value : 0);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time).toSecsSinceEpoch();
}
