#include "core/LocalTime.h"

#include <QLocale>

namespace LocalTime {

QString longTime(const QTime &time)
{
    // Qt's long format names the time zone ("t"); a time of day shown to the user has none.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale::system().toString(time, format.trimmed());
}

QString shortDate(const QDate &date) { return QLocale::system().toString(date, QLocale::ShortFormat); }

} // namespace LocalTime
