#include "ui/SafetyCodeDialog.h"

#include "core/PeerSecurity.h"
#include "ui/SecurityText.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

SafetyCodeDialog::SafetyCodeDialog(PeerSecurity &security, const QString &ip, const QString &name, QWidget *parent)
    : QDialog(parent), security_(security), ip_(ip)
{
    setWindowTitle(u"安全码 - "_s + name);
    auto *who = new QLabel(u"与 "_s + name + u"（"_s + ip + u"）的安全码："_s);
    who->setTextFormat(Qt::PlainText);
    code = new QLabel;
    code->setObjectName(u"safetyCode"_s);
    code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont big = code->font();
    big.setPixelSize(28);
    big.setBold(true);
    code->setFont(big);
    code->setAlignment(Qt::AlignCenter);
    auto *how = new QLabel(u"请和对方当面或通过电话对照这 12 位数字：两边的数字完全相同，"
                           u"说明你们之间的消息和文件只有你们两人能看到。相同就勾选“已核对”。"_s);
    how->setWordWrap(true);
    state = new QLabel;
    state->setWordWrap(true);
    state->setTextFormat(Qt::PlainText);
    verified = new QCheckBox(u"已核对"_s);
    acceptKey = new QPushButton(u"接受新密钥"_s);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(who);
    layout->addWidget(code);
    layout->addWidget(how);
    layout->addWidget(state);
    layout->addWidget(verified);
    layout->addWidget(acceptKey, 0, Qt::AlignLeft);
    layout->addWidget(buttons);
    setMinimumWidth(360);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(verified, &QCheckBox::clicked, this, [this](bool on) { security_.setVerified(ip_, on); });
    connect(acceptKey, &QPushButton::clicked, this, [this] { security_.acceptKeyChange(ip_); });
    connect(&security_, &PeerSecurity::peerChanged, this, [this](const QString &changed) {
        if (changed == ip_)
            refresh();
    });
    connect(&security_, &PeerSecurity::identityChanged, this, &SafetyCodeDialog::refresh);
    refresh();
}

void SafetyCodeDialog::refresh()
{
    const QString digits = security_.safetyCode(ip_);
    code->setText(digits.isEmpty() ? u"—"_s : digits);
    const PeerSecurity::Link link = security_.linkTo(ip_);
    const bool pinned = security_.isPinned(ip_);
    const QStringList sameKey = security_.sameKeyElsewhere(ip_);
    state->setText(SecurityText::state(link, pinned, security_.isVerified(ip_), sameKey));
    setWarningColour(state, link == PeerSecurity::Link::KeyChanged || !sameKey.isEmpty());
    verified->setEnabled(pinned && link == PeerSecurity::Link::Sealed);
    verified->setChecked(security_.isVerified(ip_));
    acceptKey->setVisible(link == PeerSecurity::Link::KeyChanged);
}
