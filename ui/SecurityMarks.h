#pragma once

#include <QObject>
#include <functional>

class PeerSecurity;
class PresenceService;
class QListWidget;
class QListWidgetItem;

// Marks each buddy of the buddy list whose datagrams go in the clear with "未加密" (and one
// whose key changed with "密钥已变", and one whose key another host announces too with
// "密钥重复"), drawn beside the entry by MarkedItemDelegate and read
// out as the item's accessible description. The entry's text is left as it is. Follows
// presence, the pinned keys and items the list gains later.
class SecurityMarks : public QObject {
    Q_OBJECT
public:
    // ipOf gives the address of a list item ("" when it is no buddy).
    SecurityMarks(QListWidget &list, PeerSecurity &security, PresenceService &presence,
                  std::function<QString(const QListWidgetItem &)> ipOf, QObject *parent = nullptr);

    void refresh();

private:
    void mark(QListWidgetItem &item);

    QListWidget &list_;
    PeerSecurity &security_;
    std::function<QString(const QListWidgetItem &)> ipOf_;
};
