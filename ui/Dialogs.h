#pragma once

#include "core/FileDialogs.h"

#include <QFont>

// The font dialog of the message window's toolbar. It needs Qt Gui, so it lives here rather
// than in core beside the file dialogs.
class FontDialog {
public:
    virtual ~FontDialog() = default;

    // Font dialog starting at initial; *accepted tells whether the user chose a font.
    virtual QFont chooseFont(const QFont &initial, bool *accepted) = 0;
};

// Both kinds of dialog, as the program's and the tests' prompts provide them.
class FileAndFontDialogs : public FileDialogs, public FontDialog {};
