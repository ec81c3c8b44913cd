#include "PageDialog.h"

#include "AppError.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QString OriginText(const QUrl &origin)
{
    const QString host = origin.host();
    if (host.isEmpty())
        return origin.toString();
    return origin.port() < 0 ? host : QStringLiteral("%1:%2").arg(host).arg(origin.port());
}

} // namespace

TPageDialog::TPageDialog(QWidget *parent, Kind kind, const QUrl &origin, const QString &message,
                         const QString &defaultText)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("PageDialog"));
    setWindowTitle(AppTitle());
    auto *layout = new QVBoxLayout(this);

    auto *lblOrigin = new QLabel(QStringLiteral("%1 上的网页显示：").arg(OriginText(origin)), this);
    lblOrigin->setObjectName(QStringLiteral("lblOrigin"));
    lblOrigin->setTextFormat(Qt::PlainText);
    QFont bold = lblOrigin->font();
    bold.setBold(true);
    lblOrigin->setFont(bold);
    layout->addWidget(lblOrigin);

    auto *lblMessage = new QLabel(message, this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setTextFormat(Qt::PlainText); // the page's text, never markup
    lblMessage->setWordWrap(true);
    lblMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblMessage->setMinimumWidth(360);
    layout->addWidget(lblMessage);

    if (kind == Kind::Prompt) {
        edtText = new QLineEdit(defaultText, this);
        edtText->setObjectName(QStringLiteral("edtText"));
        layout->addWidget(edtText);
    }

    chkBlock = new QCheckBox(QStringLiteral("禁止此网页再显示对话框"), this);
    chkBlock->setObjectName(QStringLiteral("chkBlock"));
    layout->addWidget(chkBlock);

    auto *buttons = new QDialogButtonBox(
        kind == Kind::Alert ? QDialogButtonBox::Ok : QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TPageDialog::Answer TPageDialog::Ask(QWidget *parent, Kind kind, const QUrl &origin, const QString &message,
                                     const QString &defaultText)
{
    // On the heap under the top-level window: a tab that closes meanwhile does not
    // take the box with it, and a window that goes ends the box as cancelled.
    QPointer<TPageDialog> dialog = new TPageDialog(parent ? parent->window() : nullptr, kind, origin, message,
                                                   defaultText);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    Answer answer;
    if (!dialog)
        return answer;
    answer.accepted = accepted;
    answer.text = dialog->edtText ? dialog->edtText->text() : QString();
    answer.blockFurther = dialog->chkBlock->isChecked();
    delete dialog.data();
    return answer;
}
