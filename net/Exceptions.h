#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The exceptions of the messenger. Each carries only its message text, which is what
// the standard error box shows.
class Exception : public std::exception {
public:
    explicit Exception(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString &message() const noexcept { return message_; }
    const char *what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// A text that is no integer where one was expected. Its message, "'<text>' is not a valid
// integer value", is built here only; each caller passes the text as it decoded it.
class EConvertError : public Exception {
public:
    explicit EConvertError(const QString &text)
        : Exception(QStringLiteral("'") + text + QStringLiteral("' is not a valid integer value"))
    {}
};

// Failure of a TCP socket component.
class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A TCP socket operation that was cancelled.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// Failure of the datagram endpoint.
class UDPSockError : public Exception {
public:
    using Exception::Exception;
};
