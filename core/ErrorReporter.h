#pragma once

#include "net/Exceptions.h"

#include <QString>
#include <exception>

// Receives the text of every exception that a handler did not catch. The program shows
// the standard error box; tests record the texts.
class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void reportError(const QString &text) = 0;
};

// Runs one event handler and hands any exception to the reporter, so that no exception
// crosses the Qt event loop. Returns false when the handler raised.
template <typename Handler> bool guarded(ErrorReporter &reporter, Handler &&handler)
{
    try {
        handler();
        return true;
    } catch (const Exception &e) {
        reporter.reportError(e.message());
    } catch (const std::exception &e) {
        reporter.reportError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        reporter.reportError(QStringLiteral("Unknown error"));
    }
    return false;
}
