#include "PageDialog.h"

#include "AppError.h"
#include "DialogSeam.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
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
    if (parent) {
        // A part of the page's control, not a window: it goes where its tab goes.
        setWindowFlags(Qt::Widget);
        setAttribute(Qt::WA_StyledBackground);
        setStyleSheet(QStringLiteral("#PageDialog { background: palette(window); border: 1px solid palette(dark);"
                                     " border-radius: 4px; }"));
        parent->installEventFilter(this);
    }
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

void TPageDialog::Place()
{
    const QWidget *page = parentWidget();
    if (!page || isWindow())
        return;
    adjustSize();
    move(qMax(0, (page->width() - width()) / 2), 12);
}

bool TPageDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        Place();
    return QDialog::eventFilter(watched, event);
}

TPageDialog::Answer TPageDialog::Ask(QWidget *parent, Kind kind, const QUrl &origin, const QString &message,
                                     const QString &defaultText)
{
    // On the heap, inside the page's control: a control that goes meanwhile takes
    // the box with it, which ends the wait as cancelled.
    QPointer<TPageDialog> dialog = new TPageDialog(parent, kind, origin, message, defaultText);
    dialog->Place();
    dialog->show();
    dialog->raise();
    DialogSeam::Announce(dialog);
    // The keys go to the box while its tab is shown: the typed text, or OK.
    QWidget *first = dialog->edtText;
    if (!first)
        first = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    first->setFocus(Qt::OtherFocusReason);
    QEventLoop wait;
    connect(dialog, &QDialog::finished, &wait, &QEventLoop::quit);
    connect(dialog, &QObject::destroyed, &wait, &QEventLoop::quit);
    wait.exec();
    Answer answer;
    if (!dialog)
        return answer;
    const bool accepted = dialog->result() == QDialog::Accepted;
    answer.accepted = accepted;
    answer.text = dialog->edtText ? dialog->edtText->text() : QString();
    answer.blockFurther = dialog->chkBlock->isChecked();
    delete dialog.data();
    return answer;
}
