#include "ui/ErrorBox.h"

#include "core/Prompts.h"

void ErrorBox::reportError(const QString &text) { prompts_.error(text); }
