// The messenger's entry: starts the GUI with the application title and runs the event loop.
#include "ui/AppTitle.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(appTitle());
    QApplication::setApplicationName(appTitle());
    // The windows come with the main window; until then there is nothing to show.
    return 0;
}
