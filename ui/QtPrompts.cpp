#include "ui/QtPrompts.h"

#include "ui/AppTitle.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

// Room the desktop's title bar takes besides the title: icon and buttons.
constexpr int TitleBarControls = 160;

// A box over parent with plain text, wide enough that the desktop need not cut its title.
class Box : public QMessageBox {
public:
    Box(Icon icon, const QString &title, const QString &text, QWidget *parent)
        : QMessageBox(icon, title, text, NoButton, parent)
    {
        setTextFormat(Qt::PlainText);
        // The box sizes itself from its layout, so the title's room is a spacer in it.
        if (auto *grid = qobject_cast<QGridLayout *>(layout())) {
            const int room = fontMetrics().horizontalAdvance(title) * 3 / 2 + TitleBarControls;
            grid->addItem(new QSpacerItem(room, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                          grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
};

} // namespace

QWidget *QtPrompts::parentWindow() const
{
    auto *owner = qobject_cast<QWidget *>(this->owner());
    QWidget *window = owner ? owner->window() : nullptr;
    return window && window->isVisible() ? window : mainWindow_;
}

void QtPrompts::information(const QString &text)
{
    Box box(QMessageBox::Information, u"Information"_s, text, parentWindow());
    box.addButton(u"OK"_s, QMessageBox::AcceptRole);
    box.exec();
}

void QtPrompts::message(const QString &text)
{
    Box box(QMessageBox::NoIcon, appTitle(), text, parentWindow());
    box.addButton(u"OK"_s, QMessageBox::AcceptRole);
    box.exec();
}

void QtPrompts::error(const QString &text)
{
    Box box(QMessageBox::Critical, appTitle(), text, parentWindow());
    box.addButton(u"OK"_s, QMessageBox::AcceptRole);
    box.exec();
}

Prompts::Answer QtPrompts::confirm(const QString &text, bool offerNoToAll)
{
    Box box(QMessageBox::Question, u"Confirm"_s, text, parentWindow());
    QPushButton *yes = box.addButton(u"&Yes"_s, QMessageBox::YesRole);
    QPushButton *no = box.addButton(u"&No"_s, QMessageBox::NoRole);
    // Escape answers No, the answer that changes nothing (with "N&o to All" beside it the box
    // could not tell which of its two no-buttons Escape means).
    box.setEscapeButton(no);
    QPushButton *noToAll = offerNoToAll ? box.addButton(u"N&o to All"_s, QMessageBox::NoRole) : nullptr;
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    if (noToAll && box.clickedButton() == noToAll)
        return Answer::NoToAll;
    return Answer::No;
}

QString QtPrompts::input(const QString &title, const QString &prompt, int maxLength, bool *accepted)
{
    QInputDialog dialog(parentWindow());
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setInputMode(QInputDialog::TextInput);
    if (auto *edit = dialog.findChild<QLineEdit *>()) {
        edit->setMaxLength(maxLength);
        // Without a prompt beside it the box goes by the title.
        if (prompt.isEmpty())
            edit->setAccessibleName(title);
    }
    const bool ok = dialog.exec() == QDialog::Accepted;
    if (accepted)
        *accepted = ok;
    return ok ? dialog.textValue().left(maxLength) : QString();
}

QString QtPrompts::openFileName(const QString &filter)
{
    return QFileDialog::getOpenFileName(parentWindow(), QString(), QString(), filter);
}

QString QtPrompts::saveFileName(const QString &suggestedName)
{
    return QFileDialog::getSaveFileName(parentWindow(), QString(), suggestedName);
}

QStringList QtPrompts::openFileNames() { return QFileDialog::getOpenFileNames(parentWindow()); }

QString QtPrompts::existingFolder(const QString &start)
{
    return QFileDialog::getExistingDirectory(parentWindow(), QString(), start);
}

QFont QtPrompts::chooseFont(const QFont &initial, bool *accepted)
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial, parentWindow());
    if (accepted)
        *accepted = ok;
    return ok ? font : initial;
}
