#pragma once

#include <QValidator>

// Keeps a line edit's text within a number of GBK bytes (a Chinese character counts two).
// Text typed or pasted beyond the limit is clipped at the insertion point, the way a
// character limit clips it, instead of the whole insertion being refused.
class GbkByteLimitValidator : public QValidator {
    Q_OBJECT
public:
    explicit GbkByteLimitValidator(int maxBytes, QObject *parent = nullptr);

    int maxBytes() const { return maxBytes_; }
    State validate(QString &input, int &pos) const override;

private:
    int maxBytes_;
};
