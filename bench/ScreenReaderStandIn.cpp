#include "bench/ScreenReaderStandIn.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QTimer>

#include <csignal>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

volatile std::sig_atomic_t endAsked = 0;

// The events of each interface of the accessibility bus's event signals.
const QList<std::pair<QString, QStringList>> Events{
    {u"org.a11y.atspi.Event.Object"_s,
     {u"PropertyChange"_s, u"BoundsChanged"_s, u"LinkSelected"_s, u"StateChanged"_s, u"ChildrenChanged"_s,
      u"VisibleDataChanged"_s, u"SelectionChanged"_s, u"ModelChanged"_s, u"ActiveDescendantChanged"_s,
      u"Announcement"_s, u"AttributesChanged"_s, u"RowInserted"_s, u"RowReordered"_s, u"RowDeleted"_s,
      u"ColumnInserted"_s, u"ColumnReordered"_s, u"ColumnDeleted"_s, u"TextBoundsChanged"_s,
      u"TextSelectionChanged"_s, u"TextChanged"_s, u"TextAttributesChanged"_s, u"TextCaretMoved"_s}},
    {u"org.a11y.atspi.Event.Window"_s,
     {u"PropertyChange"_s, u"Minimize"_s, u"Maximize"_s, u"Restore"_s, u"Close"_s, u"Create"_s, u"Reparent"_s,
      u"DesktopCreate"_s, u"DesktopDestroy"_s, u"Destroy"_s, u"Activate"_s, u"Deactivate"_s, u"Raise"_s,
      u"Lower"_s, u"Move"_s, u"Resize"_s, u"Shade"_s, u"uUshade"_s, u"Restyle"_s}},
    {u"org.a11y.atspi.Event.Focus"_s, {u"Focus"_s}},
};

// Receives the event signals it is connected to.
class EventCounter : public QObject {
    Q_OBJECT
public:
    long count = 0;

public slots:
    void received(const QDBusMessage &) { ++count; }
};

QDBusMessage call(const QDBusConnection &bus, const QString &service, const QString &path, const QString &interface,
                  const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message);
}

} // namespace

int screenReaderStandIn(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { endAsked = 1; });
    const QDBusReply<QString> address = call(QDBusConnection::sessionBus(), u"org.a11y.Bus"_s, u"/org/a11y/bus"_s,
                                             u"org.a11y.Bus"_s, u"GetAddress"_s);
    if (!address.isValid()) {
        std::fprintf(stderr, "screen-reader: no accessibility bus\n");
        return 1;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(address.value(), u"a11y"_s);
    if (!bus.isConnected()) {
        std::fprintf(stderr, "screen-reader: cannot connect to the accessibility bus\n");
        return 1;
    }
    EventCounter counter;
    for (const auto &[interface, members] : Events)
        for (const QString &member : members)
            bus.connect(QString(), QString(), interface, member, &counter, SLOT(received(QDBusMessage)));
    for (const QString &event : {u"object:"_s, u"window:"_s, u"focus:"_s}) {
        const QDBusMessage reply = call(bus, u"org.a11y.atspi.Registry"_s, u"/org/a11y/atspi/registry"_s,
                                        u"org.a11y.atspi.Registry"_s, u"RegisterEvent"_s, {event});
        if (reply.type() != QDBusMessage::ReplyMessage) {
            std::fprintf(stderr, "screen-reader: %s\n", qPrintable(reply.errorMessage()));
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&app] {
        if (endAsked)
            app.quit();
    });
    poll.start(50);
    app.exec();
    std::printf("%ld\n", counter.count);
    return 0;
}

#include "ScreenReaderStandIn.moc"
