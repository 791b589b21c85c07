#pragma once

#include "history/HistoryTypes.h"

#include <QAbstractListModel>
#include <QColor>

// The hits a search window lists, newest first: each with its buddy, time, direction and an
// excerpt whose marks the delegate highlights (HistoryHitDelegate). The display text of a row
// is all of it as plain text, for screen readers and tests.
class HistoryHitModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // How a message came: "收到", "发出", "自动回复".
    static QString directionText(MessageDirection direction);
    // A stored time as the chat logs show it: short date and long time.
    static QString timeText(const QDateTime &time);
    // The colours of a highlighted word: a background of its own, with the text colour that
    // reads on it in light and dark palettes alike.
    static QColor markBackground() { return QColor(255, 214, 10); }
    static QColor markText() { return Qt::black; }

    void setHits(const QList<SearchHit> &hits);
    void appendHits(const QList<SearchHit> &hits);
    const SearchHit &hit(int row) const { return hits_.at(row); }
    int count() const { return int(hits_.size()); }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    QList<SearchHit> hits_;
};
