#pragma once

#include "core/PeerSecurity.h"

#include <QString>
#include <QStringList>

class QWidget;

// The words the windows use for a peer's security, in one place so that the message window,
// the safety-code dialog and the lists say the same thing.
namespace SecurityText {

// Short, for a list entry or a status line.
QString shortState(PeerSecurity::Link link, bool verified);
// In full: what the state means and what to do.
QString state(PeerSecurity::Link link, bool pinned, bool verified, const QStringList &sameKeyElsewhere);
// The red warning of a key change.
QString keyChanged();
// The warning when other addresses announce the same key (a cloned installation).
QString sameKey(const QStringList &addresses);
// The short mark of such a peer in a list.
QString sameKeyMark();

} // namespace SecurityText

// Shows a label's text in the warning colour (red, lighter on a dark palette), or as usual.
void setWarningColour(QWidget *label, bool warning);
