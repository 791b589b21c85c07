// The start-up benchmark's baseline: the least a Qt Widgets program does to show one window of
// the main window's size. Its show handler writes the file "shown" beside the executable, the
// way the messenger's show handler rewrites myinfo.ini, which is how the benchmark sees either
// program's window shown from outside.
#include <QApplication>
#include <QSaveFile>
#include <QWidget>

class ShownWindow : public QWidget {
protected:
    void showEvent(QShowEvent *event) override
    {
        QWidget::showEvent(event);
        QSaveFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/shown"));
        if (file.open(QIODevice::WriteOnly) && file.write("1") == 1)
            file.commit();
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ShownWindow window;
    window.resize(150, 278);
    window.show();
    return QApplication::exec();
}
