#pragma once

#include <QObject>
#include <functional>

class QListWidget;
class QListWidgetItem;
class UnreadCounts;

// Shows each buddy's unread count in the buddy list: the item "[3]小明" reads "[3]小明 (2)"
// while two messages of that buddy wait, and its own text again once they are seen. The
// entry itself stays in the item (EntryRole), and items the list gains later are marked too.
class UnreadMarks : public QObject {
    Q_OBJECT
public:
    // Where an item keeps its entry while its text carries a mark.
    static constexpr int EntryRole = Qt::UserRole + 0x55d;

    // ipOf gives the address of a buddy entry ("" when it is none).
    UnreadMarks(QListWidget &list, const UnreadCounts &counts, std::function<QString(const QString &)> ipOf,
                QObject *parent = nullptr);

    // The entry's text with its mark: entry + " (count)", or entry alone for no unread message.
    static QString marked(const QString &entry, int count);
    // The entry an item shows, without its mark.
    static QString entryOf(const QListWidgetItem &item);

    // Marks every item afresh.
    void refresh();

private:
    void mark(QListWidgetItem &item);

    QListWidget &list_;
    const UnreadCounts &counts_;
    std::function<QString(const QString &)> ipOf_;
};
