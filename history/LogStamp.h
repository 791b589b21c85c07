#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

// The date and time in a chat log entry's header. The message window writes them in the
// system's short date and long time formats, so a log holds whatever the locale of the day
// made: 2024/1/5 14:05:09, 1/5/24 2:05:09 PM, 05.01.24 14:05:09, 5 Jan 2024 14:05:09 ... The
// reader takes the numbers in order, month names and AM/PM markers of this locale and of
// English and Chinese, and the order of day, month and year from this locale's short format
// (a four-digit year first, or a month over 12, settles it otherwise).
class LogStamp {
public:
    // A longer text is no time stamp.
    static constexpr int MaxLength = 64;

    // Reads the system locale's formats and names once.
    LogStamp();

    // Seconds since 1970 (UTC) of the local date and time in text, or nothing when text is none.
    std::optional<qint64> parse(QStringView text) const;

private:
    int monthOf(const QString &word) const;

    bool yearFirst_ = false;
    bool dayFirst_ = false;
    QList<QStringList> monthNames_; // lower case, per month
    QStringList amTexts_;
    QStringList pmTexts_;
    int thisYear_ = 0;
};
