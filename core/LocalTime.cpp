#include "core/LocalTime.h"

#include <QLocale>

namespace LocalTime {

QString longTime(const QTime &time)
{
    // The last time formatted on this thread: the entries of one batch of datagrams share
    // their time of day, and formatting reads the system locale each time.
    thread_local QTime lastTime;
    thread_local QString lastText;
    if (time.isValid() && time == lastTime)
        return lastText;
    // Qt's long format names the time zone ("t"); a time of day shown to the user has none.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    lastText = QLocale::system().toString(time, format.trimmed());
    lastTime = time;
    return lastText;
}

QString shortDate(const QDate &date) { return QLocale::system().toString(date, QLocale::ShortFormat); }

} // namespace LocalTime
