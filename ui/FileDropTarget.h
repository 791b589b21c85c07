#pragma once

#include <QObject>
#include <QPoint>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

// Takes drags of local files and folders on the widgets it watches, where accepts() says so
// (asked for each move and the drop), and hands a drop to dropped(); the widgets' own handling never sees such a drag (a text box
// would insert the files' names). Other drags go on to the widgets as before.
class FileDropTarget : public QObject {
    Q_OBJECT
public:
    using Accepts = std::function<bool(QWidget *widget, const QPoint &pos)>;
    using Dropped = std::function<void(QWidget *widget, const QPoint &pos, const QStringList &paths)>;

    FileDropTarget(QObject *parent, Accepts accepts, Dropped dropped);

    // Watches widget (for a scroll area, pass its viewport).
    void watch(QWidget *widget);
    // The local files and folders a drag carries; empty when it carries anything else too.
    static QStringList localPaths(const QMimeData *mime);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Accepts accepts_;
    Dropped dropped_;
};
