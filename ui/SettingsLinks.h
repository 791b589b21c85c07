#pragma once

#include "ui/DisplayStyle.h"

// What the other windows use of the settings window: the options they follow and the
// message windows' display style. The settings window implements it, so that no window
// reaches into its controls.
class SettingsLinks {
public:
    virtual ~SettingsLinks() = default;

    // Save chat log (the check box bcf).
    virtual bool saveChatLog() const = 0;
    // Ticks or clears auto-pop-up mode (the check box autopop), with what that change does.
    virtual void setAutoPopup(bool on) = 0;
    // The style a new message window's display pane starts with, and the one it leaves.
    virtual DisplayStyle displayStyle() const = 0;
    virtual void setDisplayStyle(const DisplayStyle &style) = 0;
};
