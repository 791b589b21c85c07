// Linked with one layer's whole library and nothing else: fails when a Qt Gui, Widgets or
// Network library is among the loaded ones.
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    const QCoreApplication app(argc, argv);
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read the loaded libraries\n");
        return 1;
    }
    const QByteArray loaded = maps.readAll();
    for (const char *library : {"libQt6Gui.so", "libQt6Widgets.so", "libQt6Network.so"}) {
        if (loaded.contains(library)) {
            std::fprintf(stderr, "%s is loaded\n", library);
            return 1;
        }
    }
    return loaded.contains("libQt6Core.so") ? 0 : 1;
}
