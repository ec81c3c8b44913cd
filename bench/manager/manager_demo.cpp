// Shows the manager over a catalogue file and, after a while, saves a picture of it;
// with a second picture's name, also one of the screen around it with a row's
// tooltip shown (which is a window of its own, so only the screen holds both).
// Usage: manager_demo CATALOGUE OUTPUT.png [SECONDS] [TOOLTIP_OUTPUT.png]
#include "MgmtForm.h"
#include "MsgBox.h"
#include "RdpCommon.h"
#include "ServerListModel.h"
#include "ServerListView.h"

#include <QApplication>
#include <QHelpEvent>
#include <QScreen>
#include <QTimer>
#include <cstdio>

namespace {

// Hovers the row as the user does: the list shows the row's tooltip.
TServerListView *listOf(TfrmMgmt &form)
{
    return form.findChild<TServerListView *>(QStringLiteral("lvSvr"));
}

void showToolTip(TfrmMgmt &form, TRowObject *row)
{
    QWidget *viewport = listOf(form)->viewport();
    const QPoint at = listOf(form)->RowRect(row).center();
    QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &help);
}

// The screen around the window and every other window shown over it.
QPixmap grabWithPopups(TfrmMgmt &form)
{
    QRect area = form.frameGeometry();
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window != &form && window->isVisible())
            area |= window->frameGeometry();
    return form.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

bool save(const QPixmap &picture, const QString &output)
{
    if (picture.save(output))
        return true;
    std::fprintf(stderr, "cannot save %s\n", qPrintable(output));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CATALOGUE OUTPUT.png [SECONDS] [TOOLTIP_OUTPUT.png]\n", argv[0]);
        return 2;
    }
    InstallErrorMessageBoxes();
    UseIniFile(QString::fromLocal8Bit(argv[1]));
    const QString output = QString::fromLocal8Bit(argv[2]);
    const int seconds = argc > 3 ? std::max(2, std::atoi(argv[3])) : 6;
    const QString tooltipOutput = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();

    TfrmMgmt form;
    form.resize(760, 420);
    form.move(40, 40);
    form.show();
    if (TRowObject *row = listOf(form)->List()->RowObject(2))
        listOf(form)->SelectRow(row);
    int status = 0;
    if (!tooltipOutput.isEmpty()) {
        QTimer::singleShot((seconds - 1) * 1000, &app, [&] {
            if (TRowObject *row = listOf(form)->List()->RowObject(1))
                showToolTip(form, row);
        });
    }
    QTimer::singleShot(seconds * 1000, &app, [&] {
        if (!save(form.grab(), output))
            status = 1;
        if (!tooltipOutput.isEmpty() && !save(grabWithPopups(form), tooltipOutput))
            status = 1;
        app.quit();
    });
    app.exec();
    ReleaseCatalogue();
    return status;
}
