#pragma once

#include "core/ErrorReporter.h"

#include <QStringList>

// Stands in for the standard error box: keeps every reported text for the test to assert.
class RecordingReporter : public ErrorReporter {
public:
    void reportError(const QString &text) override { errors << text; }
    QStringList errors;
};
