#pragma once

#include "core/ErrorReporter.h"
#include "core/Prompts.h"

#include <QStringList>

// Stands in for the standard error box: keeps every reported text for the test to assert.
// With boxes set it also shows each text there as an error box, as the program does.
class RecordingReporter : public ErrorReporter {
public:
    void reportError(const QString &text) override
    {
        errors << text;
        if (boxes)
            boxes->error(text);
    }
    QStringList errors;
    Prompts *boxes = nullptr;
};
