#include "ui/SecurityStrip.h"

#include "core/PeerSecurity.h"
#include "ui/SafetyCodeDialog.h"
#include "ui/SecurityText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

SecurityStrip::SecurityStrip(PeerSecurity &security, QWidget *parent) : QWidget(parent), security_(security)
{
    stateLabel = new QLabel;
    stateLabel->setObjectName(u"securityState"_s);
    stateLabel->setTextFormat(Qt::PlainText);
    codeButton = new QPushButton(u"核对…"_s);
    codeButton->setFixedHeight(25);
    // As narrow as its text: the code beside it must fit in the button row whole.
    codeButton->setFixedWidth(codeButton->fontMetrics().horizontalAdvance(codeButton->text()) + 16);
    stateLabel->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    codeButton->setToolTip(u"查看并核对与对方的安全码"_s);
    warning = new QLabel(SecurityText::keyChanged());
    warning->setObjectName(u"keyChangedWarning"_s);
    warning->setTextFormat(Qt::PlainText);
    warning->setWordWrap(true);
    warning->hide();
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(stateLabel);
    layout->addWidget(codeButton);
    connect(codeButton, &QPushButton::clicked, this, &SecurityStrip::openDialog);
    connect(&security_, &PeerSecurity::peerChanged, this, [this](const QString &ip) {
        if (ip == ip_)
            refresh();
    });
    connect(&security_, &PeerSecurity::identityChanged, this, &SecurityStrip::refresh);
}

void SecurityStrip::setPeer(const QString &ip, const QString &name)
{
    ip_ = ip;
    name_ = name;
    refresh();
}

void SecurityStrip::refresh()
{
    const PeerSecurity::Link link = security_.linkTo(ip_);
    const QString code = security_.safetyCode(ip_);
    QString text = SecurityText::shortState(link, security_.isVerified(ip_));
    if (link == PeerSecurity::Link::Sealed && !code.isEmpty())
        text += u"  "_s + code;
    stateLabel->setText(text);
    setWarningColour(stateLabel, link == PeerSecurity::Link::KeyChanged);
    codeButton->setVisible(link != PeerSecurity::Link::Plain);
    const QStringList sameKey = security_.sameKeyElsewhere(ip_);
    if (link == PeerSecurity::Link::KeyChanged)
        warning->setText(SecurityText::keyChanged());
    else if (!sameKey.isEmpty())
        warning->setText(SecurityText::sameKey(sameKey));
    warning->setVisible(link == PeerSecurity::Link::KeyChanged || !sameKey.isEmpty());
    setWarningColour(warning, true);
}

void SecurityStrip::openDialog()
{
    auto *dialog = new SafetyCodeDialog(security_, ip_, name_, window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}
