#include "tests/a11y/AccessibleTree.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

// The roles of what a person operates or reads as a control of its own.
const QStringList InteractiveRoles{
    u"push button"_s, u"check box"_s, u"radio button"_s, u"combo box"_s, u"text"_s,   u"list"_s,
    u"list item"_s,   u"menu item"_s, u"page tab"_s,     u"spin box"_s,  u"slider"_s, u"table"_s,
};

// How long the reader may take to start listening, and the probe window to be reported.
constexpr int ReadyTimeoutMs = 20000;

QString unescaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const QChar next = text[++i];
        out += next == u't' ? u'\t' : next == u'n' ? u'\n' : next;
    }
    return out;
}

// Runs atspi_reader on this process in mode.
void startReader(QProcess &process, const QString &mode)
{
    process.setProgram(QStringLiteral(TALVINO_ATSPI_READER));
    process.setArguments({mode, QString::number(QCoreApplication::applicationPid())});
    process.start();
}

} // namespace

bool AccessibleNode::interactive() const { return InteractiveRoles.contains(role); }

QString AccessibleNode::toString() const
{
    return QString(depth * 2, u' ') + u'[' + role + u"] \""_s + name + u'"'
        + (description.isEmpty() ? QString() : u" ("_s + description + u')') + u"  "_s + states.join(u',');
}

std::optional<AccessibleTree> AccessibleTree::read(QString *error)
{
    QProcess process;
    // The event loop runs meanwhile, waking for each question of the reader: this process
    // answers them.
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(ReadTimeoutMs, &loop, &QEventLoop::quit);
    startReader(process, u"tree"_s);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    const bool ended = process.state() == QProcess::NotRunning;
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    if (!ended || process.exitCode() != 0 || !lines.contains(u"end"_s)) {
        *error = u"atspi_reader failed: "_s + QString::fromUtf8(process.readAllStandardError());
        return std::nullopt;
    }
    AccessibleTree tree;
    for (const QString &line : lines) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() != 5)
            continue;
        AccessibleNode node;
        node.depth = fields[0].toInt();
        node.role = unescaped(fields[1]);
        node.name = unescaped(fields[2]);
        node.description = unescaped(fields[3]);
        node.states = fields[4].split(u',', Qt::SkipEmptyParts);
        tree.nodes_ << node;
    }
    return tree;
}

QList<AccessibleNode> AccessibleTree::window(const QString &title, const QString &role) const
{
    QList<AccessibleNode> found;
    for (qsizetype i = 0; i < nodes_.size(); ++i) {
        const AccessibleNode &node = nodes_[i];
        if (node.depth != 1 || node.name != title || !node.has(u"showing"_s)
            || (!role.isEmpty() && node.role != role))
            continue;
        found << node;
        for (qsizetype j = i + 1; j < nodes_.size() && nodes_[j].depth > 1; ++j)
            found << nodes_[j];
        break;
    }
    return found;
}

QString AccessibleTree::dump(const QList<AccessibleNode> &nodes) const
{
    QString text;
    for (const AccessibleNode &node : nodes)
        text += node.toString() + u'\n';
    return text;
}

ShowingEvents::~ShowingEvents()
{
    if (reader_.state() == QProcess::NotRunning)
        return;
    reader_.closeWriteChannel(); // the reader ends when its input closes
    if (!reader_.waitForFinished(5000))
        reader_.kill();
    reader_.waitForFinished();
}

bool ShowingEvents::start(QString *error)
{
    QObject::connect(&reader_, &QProcess::readyReadStandardOutput, &reader_, [this] {
        while (reader_.canReadLine())
            lines_ << QString::fromUtf8(reader_.readLine()).chopped(1);
    });
    startReader(reader_, u"events"_s);
    if (!QTest::qWaitFor([this] { return lines_.contains(u"ready"_s); }, ReadyTimeoutMs)) {
        *error = u"atspi_reader did not listen: "_s + QString::fromUtf8(reader_.readAllStandardError());
        return false;
    }
    // The bridge learns of the new listener on its own time: a probe window is shown again
    // until the reader reports it.
    const QString probeTitle = u"probe"_s;
    QWidget probe;
    probe.setWindowTitle(probeTitle);
    const bool heard = QTest::qWaitFor(
        [&] {
            probe.hide();
            probe.show();
            return QTest::qWaitFor([&] { return reported().join(u'\n').contains(probeTitle); }, 500);
        },
        ReadyTimeoutMs);
    if (!heard)
        *error = u"this process's bridge sent the reader no event"_s;
    return heard;
}

QStringList ShowingEvents::reported() const
{
    QStringList objects;
    for (const QString &line : lines_)
        if (line.startsWith(u"showing\t"_s))
            objects << line.mid(8);
    return objects;
}
