#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

// One object of an application's accessibility tree as the reader printed it.
struct AccessibleNode {
    int depth = 0;
    QString role; // as the bus names it: "push button", "list item", ...
    QString name;
    QString description;
    QStringList states;

    bool has(const QString &state) const { return states.contains(state); }
    // A control a person operates or reads by itself: it must say what it is.
    bool interactive() const;
    QString toString() const;
};

// This process's accessibility tree, read by atspi_reader in a process of its own while the
// event loop runs here (so that this process's bridge can answer it).
class AccessibleTree {
public:
    // How long one reading may take before the test gives up on it.
    static constexpr int ReadTimeoutMs = 60000;

    // Reads the whole tree; none (with the reason in error) when the reader failed.
    static std::optional<AccessibleTree> read(QString *error);

    const QList<AccessibleNode> &nodes() const { return nodes_; }
    // The nodes of the shown top-level window titled title (of that role, when one is given):
    // the window first, then its descendants. Empty when there is none.
    QList<AccessibleNode> window(const QString &title, const QString &role = {}) const;
    // The tree as the reader printed it, indented, for failure messages.
    QString dump(const QList<AccessibleNode> &nodes) const;

private:
    QList<AccessibleNode> nodes_;
};

// Asks atspi_reader for the "showing" events of this process, as a screen reader does, and
// collects what it reports ("role<TAB>name<TAB>description" per object shown, escaped).
class ShowingEvents {
public:
    ShowingEvents() = default;
    ~ShowingEvents();
    ShowingEvents(const ShowingEvents &) = delete;
    ShowingEvents &operator=(const ShowingEvents &) = delete;

    // Waits until the reader listens and this process's bridge sends it events: a probe
    // window is shown until the reader reports it. False (with the reason) when it never does.
    bool start(QString *error);
    // The objects reported so far.
    QStringList reported() const;

private:
    QProcess reader_;
    QStringList lines_;
};
