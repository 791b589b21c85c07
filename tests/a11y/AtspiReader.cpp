// Reads an application's accessibility tree over the accessibility bus, as a screen reader does,
// from a process of its own: a blocking call from the application's GUI thread to its own bridge
// would wait for itself. The window tests run it beside the windows they show.
//
//   atspi_reader tree PID     prints the tree of the application whose process is PID, one
//                             node a line: depth, role, name, description and states, separated
//                             by tabs (tab, line break and backslash in texts escaped as \t,
//                             \n and \\), then "end"; the children of what is not shown are
//                             left out, as a screen reader leaves them
//   atspi_reader events PID   asks for the "showing" events as a screen reader does, prints
//                             "ready", then one line for each object of that application that
//                             became shown: "showing", role, name, description; it ends when
//                             its standard input closes, or after MaxWatchMs
//
// Exits 1, with the reason on standard error, when there is no accessibility bus, no such
// application or a call fails.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Each call to the application or the bus gets this long to answer.
constexpr int CallTimeoutMs = 5000;
// The walk stops at this depth and after this many nodes: a tree of a window is far smaller,
// and a broken or hostile tree cannot keep the reader going.
constexpr int MaxDepth = 40;
constexpr int MaxNodes = 20000;
// An events reader that nobody ends stops by itself.
constexpr int MaxWatchMs = 120000;

const QString AccessibleInterface = u"org.a11y.atspi.Accessible"_s;
const QString RootPath = u"/org/a11y/atspi/accessible/root"_s;

// The states a test looks at, by their numbers on the bus.
const QList<std::pair<int, QString>> StateNames{
    {1, u"active"_s},     {4, u"checked"_s},  {7, u"editable"_s}, {8, u"enabled"_s},
    {11, u"focusable"_s}, {12, u"focused"_s}, {16, u"modal"_s},   {23, u"selected"_s},
    {24, u"sensitive"_s}, {25, u"showing"_s}, {30, u"visible"_s}, {41, u"checkable"_s},
};

struct ObjectRef {
    QString service;
    QString path;
};

class Reader {
public:
    explicit Reader(QDBusConnection bus) : bus_(std::move(bus)) {}

    QDBusMessage call(const ObjectRef &object, const QString &interface, const QString &method,
                      const QVariantList &arguments = {}) const
    {
        QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = bus_.call(message, QDBus::Block, CallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            throw std::runtime_error(QString(method + u": "_s + reply.errorMessage()).toStdString());
        return reply;
    }

    QString property(const ObjectRef &object, const QString &name) const
    {
        const QDBusMessage reply = call(object, u"org.freedesktop.DBus.Properties"_s, u"Get"_s,
                                        {AccessibleInterface, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
    }

    QList<ObjectRef> children(const ObjectRef &object) const
    {
        const QDBusMessage reply = call(object, AccessibleInterface, u"GetChildren"_s);
        QList<ObjectRef> list;
        const QDBusArgument array = reply.arguments().value(0).value<QDBusArgument>();
        array.beginArray();
        while (!array.atEnd()) {
            ObjectRef child;
            QDBusObjectPath path;
            array.beginStructure();
            array >> child.service >> path;
            array.endStructure();
            child.path = path.path();
            list << child;
        }
        array.endArray();
        return list;
    }

    QString roleName(const ObjectRef &object) const
    {
        return call(object, AccessibleInterface, u"GetRoleName"_s).arguments().value(0).toString();
    }

    QStringList states(const ObjectRef &object) const
    {
        const QDBusMessage reply = call(object, AccessibleInterface, u"GetState"_s);
        QList<uint> words;
        const QDBusArgument array = reply.arguments().value(0).value<QDBusArgument>();
        array >> words;
        QStringList names;
        for (const auto &[bit, name] : StateNames) {
            const int word = bit / 32;
            if (word < words.size() && (words[word] >> (bit % 32)) & 1U)
                names << name;
        }
        return names;
    }

    // The application registered with the accessibility registry whose process is pid.
    ObjectRef application(qint64 pid) const
    {
        const ObjectRef desktop{u"org.a11y.atspi.Registry"_s, RootPath};
        for (const ObjectRef &app : children(desktop)) {
            const QDBusMessage reply = call({u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s},
                                            u"org.freedesktop.DBus"_s, u"GetConnectionUnixProcessID"_s,
                                            {app.service});
            if (reply.arguments().value(0).toLongLong() == pid)
                return {app.service, RootPath};
        }
        throw std::runtime_error("no application of that process on the accessibility bus");
    }

    void printTree(const ObjectRef &object, int depth, int &count) const
    {
        if (depth > MaxDepth || ++count > MaxNodes)
            return;
        QList<ObjectRef> kids;
        QStringList stateNames;
        try {
            const QString role = roleName(object);
            const QString name = property(object, u"Name"_s);
            const QString description = property(object, u"Description"_s);
            stateNames = states(object);
            kids = children(object);
            std::printf("%d\t%s\t%s\t%s\t%s\n", depth, qPrintable(escaped(role)), qPrintable(escaped(name)),
                        qPrintable(escaped(description)), qPrintable(stateNames.join(u',')));
        } catch (const std::exception &e) {
            // An object that went while it was read (or that its bridge cannot serve) is left
            // out, as a screen reader skips it.
            std::fprintf(stderr, "atspi_reader: %s left out: %s\n", qPrintable(object.path), e.what());
            return;
        }
        // What is not shown is not read out: a closed menu's items, a hidden window's controls.
        if (depth > 0 && !stateNames.contains(u"showing"_s))
            return;
        for (const ObjectRef &child : kids)
            printTree(child, depth + 1, count);
    }

    static QString escaped(QString text)
    {
        return text.replace(u'\\', u"\\\\"_s).replace(u'\t', u"\\t"_s).replace(u'\n', u"\\n"_s);
    }

    const QDBusConnection &bus() const { return bus_; }

private:
    QDBusConnection bus_;
};

// Prints the objects of one application that become shown.
class ShowingWatcher : public QObject {
    Q_OBJECT
public:
    ShowingWatcher(const Reader &reader, QString service) : reader_(reader), service_(std::move(service)) {}

public slots:
    void stateChanged(const QDBusMessage &message)
    {
        const QVariantList arguments = message.arguments();
        if (message.service() != service_ || arguments.value(0).toString() != u"showing"_s
            || arguments.value(1).toInt() != 1)
            return;
        const ObjectRef source{service_, message.path()};
        try {
            std::printf("showing\t%s\t%s\t%s\n", qPrintable(Reader::escaped(reader_.roleName(source))),
                        qPrintable(Reader::escaped(reader_.property(source, u"Name"_s))),
                        qPrintable(Reader::escaped(reader_.property(source, u"Description"_s))));
        } catch (const std::exception &e) {
            // The object may be gone already (a window closed at once): nothing to tell of it.
            std::fprintf(stderr, "atspi_reader: %s\n", e.what());
        }
        std::fflush(stdout);
    }

private:
    const Reader &reader_;
    QString service_;
};

QDBusConnection accessibilityBus()
{
    QDBusMessage ask = QDBusMessage::createMethodCall(u"org.a11y.Bus"_s, u"/org/a11y/bus"_s,
                                                      u"org.a11y.Bus"_s, u"GetAddress"_s);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(ask, QDBus::Block, CallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw std::runtime_error("no accessibility bus: " + reply.errorMessage().toStdString());
    QDBusConnection bus = QDBusConnection::connectToBus(reply.arguments().value(0).toString(), u"a11y"_s);
    if (!bus.isConnected())
        throw std::runtime_error("cannot connect to the accessibility bus");
    return bus;
}

int watchShowing(QCoreApplication &app, const Reader &reader, const ObjectRef &application)
{
    ShowingWatcher watcher(reader, application.service);
    QDBusConnection bus = reader.bus();
    bus.connect(application.service, QString(), u"org.a11y.atspi.Event.Object"_s, u"StateChanged"_s, &watcher,
                SLOT(stateChanged(QDBusMessage)));
    reader.call({u"org.a11y.atspi.Registry"_s, u"/org/a11y/atspi/registry"_s}, u"org.a11y.atspi.Registry"_s,
                u"RegisterEvent"_s, {u"object:state-changed:showing"_s});
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &input] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            app.quit();
        }
    });
    QTimer::singleShot(MaxWatchMs, &app, &QCoreApplication::quit);
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool pidOk = false;
    const qint64 pid = arguments.value(2).toLongLong(&pidOk);
    const QString mode = arguments.value(1);
    if (arguments.size() != 3 || !pidOk || (mode != u"tree"_s && mode != u"events"_s)) {
        std::fprintf(stderr, "usage: atspi_reader tree|events PID\n");
        return 2;
    }
    try {
        const Reader reader(accessibilityBus());
        const ObjectRef application = reader.application(pid);
        if (mode == u"events"_s)
            return watchShowing(app, reader, application);
        int count = 0;
        reader.printTree(application, 0, count);
        std::printf("end\n");
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "atspi_reader: %s\n", e.what());
        return 1;
    }
}

#include "AtspiReader.moc"
