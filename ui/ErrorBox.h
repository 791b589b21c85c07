#pragma once

#include "core/ErrorReporter.h"

class Prompts;

// The program's standard error box: a modal box titled with the application title, an
// error icon and the exception's text; the event loop goes on after it.
class ErrorBox : public ErrorReporter {
public:
    explicit ErrorBox(Prompts &prompts) : prompts_(prompts) {}
    void reportError(const QString &text) override;

private:
    Prompts &prompts_;
};
