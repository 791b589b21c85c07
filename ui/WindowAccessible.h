#pragma once

// How the program's plain windows (QWidget windows that are neither dialog boxes nor the main
// window: settings, message, add-friend, chat-room and file windows) appear to a screen reader.
// Qt shows them as a nameless kind of panel; installed, they are windows named by their title,
// as dialog boxes and the main window are. A window that appears without taking the keyboard
// (Qt::WA_ShowWithoutActivating: one the network opened while the person may be typing
// elsewhere) is a notification instead: it gets no window activation to be announced by, and
// a screen reader speaks a notification as it appears. Installing more than once changes
// nothing.
namespace WindowAccessible {
void install();
} // namespace WindowAccessible
