#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

// Parts shared by the small dialogs of find and import that are laid out by Qt:
// a name, a caption and a close box; and confirm and cancel buttons.
inline void SetDialogFrame(QDialog *dialog, const char *name, const QString &caption)
{
    dialog->setObjectName(QLatin1String(name));
    dialog->setWindowTitle(caption);
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

inline QDialogButtonBox *MakeDialogButtons(QDialog *dialog, const QString &confirm)
{
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    box->button(QDialogButtonBox::Ok)->setText(confirm);
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}
