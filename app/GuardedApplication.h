#pragma once

#include <QApplication>

class ErrorReporter;

// The program's application object. Handlers report their own exceptions; anything that
// still escapes an event is caught here, shown by the reporter, and the event loop goes on.
class GuardedApplication : public QApplication {
public:
    GuardedApplication(int &argc, char **argv) : QApplication(argc, argv) {}

    void setReporter(ErrorReporter *reporter) { reporter_ = reporter; }
    bool notify(QObject *receiver, QEvent *event) override;

private:
    ErrorReporter *reporter_ = nullptr;
};
