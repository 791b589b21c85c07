#include "ui/QtPrompts.h"

#include "ui/AppTitle.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

void QtPrompts::information(const QString &text)
{
    QMessageBox box(QMessageBox::Information, u"Information"_s, text, QMessageBox::NoButton, parent_);
    box.addButton(u"OK"_s, QMessageBox::AcceptRole);
    box.exec();
}

void QtPrompts::message(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, appTitle(), text, QMessageBox::NoButton, parent_);
    box.addButton(u"OK"_s, QMessageBox::AcceptRole);
    box.exec();
}

void QtPrompts::error(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, appTitle(), text, QMessageBox::NoButton, parent_);
    box.addButton(u"OK"_s, QMessageBox::AcceptRole);
    box.exec();
}

Prompts::Answer QtPrompts::confirm(const QString &text, bool offerNoToAll)
{
    QMessageBox box(QMessageBox::Question, u"Confirm"_s, text, QMessageBox::NoButton, parent_);
    QPushButton *yes = box.addButton(u"&Yes"_s, QMessageBox::YesRole);
    box.addButton(u"&No"_s, QMessageBox::NoRole);
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
    QInputDialog dialog(parent_);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setInputMode(QInputDialog::TextInput);
    if (auto *edit = dialog.findChild<QLineEdit *>())
        edit->setMaxLength(maxLength);
    const bool ok = dialog.exec() == QDialog::Accepted;
    if (accepted)
        *accepted = ok;
    return ok ? dialog.textValue().left(maxLength) : QString();
}

QString QtPrompts::openFileName(const QString &filter)
{
    return QFileDialog::getOpenFileName(parent_, QString(), QString(), filter);
}

QString QtPrompts::saveFileName(const QString &suggestedName)
{
    return QFileDialog::getSaveFileName(parent_, QString(), suggestedName);
}

QFont QtPrompts::chooseFont(const QFont &initial, bool *accepted)
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial, parent_);
    if (accepted)
        *accepted = ok;
    return ok ? font : initial;
}
