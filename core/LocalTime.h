#pragma once

#include <QDate>
#include <QString>
#include <QTime>

// The user's local date and time formats, as message windows and transcripts show them.
namespace LocalTime {

// A time of day in the system's long time format without a time zone, e.g. 14:05:09.
QString longTime(const QTime &time);
// A date in the system's short date format.
QString shortDate(const QDate &date);

} // namespace LocalTime
