#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

// Every modal box and input box of the messenger goes through this interface (the file and
// font dialogs through FileAndFontDialogs in ui/). The program shows the real dialogs; tests
// script the answers.
class Prompts {
public:
    enum class Answer { Yes, No, NoToAll };

    virtual ~Prompts() = default;

    // The window that the next box belongs to (shown over it, above it); null means the
    // program's main window. Set for the length of one handler through Owner; a window that
    // is destroyed meanwhile leaves null.
    QObject *owner() const { return owner_; }

    // Makes window the owner of every box raised while the scope lives, and gives the
    // previous owner back when it ends, so that nested handlers each name their own window.
    class Owner {
    public:
        Owner(Prompts &prompts, QObject *window) : prompts_(prompts), previous_(prompts.owner_)
        {
            prompts_.owner_ = window;
        }
        ~Owner() { prompts_.owner_ = previous_; }
        Owner(const Owner &) = delete;
        Owner &operator=(const Owner &) = delete;

    private:
        Prompts &prompts_;
        QPointer<QObject> previous_;
    };

    // Information box: title "Information", button "OK".
    virtual void information(const QString &text) = 0;
    // Plain message box: titled with the application title, button "OK".
    virtual void message(const QString &text) = 0;
    // Confirmation box: title "Confirm", buttons "&Yes" and "&No", plus "N&o to All" when offered.
    virtual Answer confirm(const QString &text, bool offerNoToAll) = 0;
    // Modal one-line input box with OK and Cancel; the entry takes at most maxLength characters.
    // Returns the typed text on OK, nullopt-like empty with accepted=false on Cancel.
    virtual QString input(const QString &title, const QString &prompt, int maxLength, bool *accepted) = 0;
    // The media system's error report (an error box).
    virtual void error(const QString &text) = 0;

private:
    QPointer<QObject> owner_;
};
