#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;

// Looks a host name up (IPv4 only) on a helper thread and announces the answer on the
// owning thread's event loop through finished(). Waiting for it costs no CPU. An abandoned
// look-up (this object destroyed first) runs to its end on its own and touches nothing else.
class HostLookup : public QObject {
    Q_OBJECT
public:
    explicit HostLookup(const QString &name, QObject *parent = nullptr);
    ~HostLookup() override;

    bool isFinished() const { return finished_; }
    // The first IPv4 address of the answer in host byte order; 0 when the name did not
    // resolve (or the look-up has not finished).
    quint32 address() const { return address_; }
    // The official (canonical) name of the host; empty when the name did not resolve.
    QString canonicalName() const { return canonicalName_; }

signals:
    void finished();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    QSocketNotifier *answered_ = nullptr;
    bool finished_ = false;
    quint32 address_ = 0;
    QString canonicalName_;
};
