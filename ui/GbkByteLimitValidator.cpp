#include "ui/GbkByteLimitValidator.h"

#include "core/Gbk.h"

GbkByteLimitValidator::GbkByteLimitValidator(int maxBytes, QObject *parent)
    : QValidator(parent), maxBytes_(maxBytes)
{}

QValidator::State GbkByteLimitValidator::validate(QString &input, int &pos) const
{
    // Drop what was just inserted before the cursor, one whole character at a time,
    // until the text fits; text after the cursor was there before and stays.
    while (Gbk::byteLength(input) > maxBytes_ && pos > 0) {
        const int width
            = (pos >= 2 && input.at(pos - 1).isLowSurrogate() && input.at(pos - 2).isHighSurrogate()) ? 2 : 1;
        input.remove(pos - width, width);
        pos -= width;
    }
    if (Gbk::byteLength(input) > maxBytes_) {
        input = Gbk::truncateToBytes(input, maxBytes_);
        pos = qMin(pos, int(input.size()));
    }
    return Acceptable;
}
