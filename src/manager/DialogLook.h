#pragma once

#include <QDialog>
#include <QFont>

// The look shared by the manager's dialogs: a fixed size, a close box and no
// other title-bar buttons, and an 11-pixel font of the given family.
inline void SetDialogLook(QDialog *dialog, const char *name, const QString &caption, const QString &fontFamily,
                          int width, int height)
{
    dialog->setObjectName(QLatin1String(name));
    dialog->setWindowTitle(caption);
    dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont font(fontFamily);
    font.setPixelSize(11);
    dialog->setFont(font);
    dialog->setFixedSize(width, height);
}
