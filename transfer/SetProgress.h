#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QWidget>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// What both file-set windows show of a transfer: files done of all, bytes done of all in
// readable units, the current speed and the time left, and what failed with "全部重试".
class SetProgress : public QWidget {
    Q_OBJECT
public:
    // The speed is taken over this many milliseconds: steady enough to read, quick to follow.
    static constexpr int SpeedWindowMs = 3000;

    explicit SetProgress(QWidget *parent = nullptr);

    void showFigures(int filesDone, int filesTotal, qint64 bytesDone, qint64 bytesTotal);
    // The transfer stopped: no speed, no time left.
    void stopped();
    void setFailures(const QList<QPair<QString, QString>> &failures);

    // "1 小时 5 分", "3 分 20 秒", "12 秒".
    static QString duration(qint64 seconds);

    QProgressBar *bar;
    QLabel *files;
    QLabel *bytes;
    QLabel *speed;
    QLabel *left;
    QListWidget *failures;
    QPushButton *retryAll; // "全部重试"

signals:
    void retryAllClicked();

private:
    QElapsedTimer clock_;
    QList<QPair<qint64, qint64>> samples_; // (ms, bytes done), the last SpeedWindowMs
};
