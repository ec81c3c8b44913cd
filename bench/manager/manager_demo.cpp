// Shows the manager over a catalogue file and, after a while, saves a picture of it.
// Usage: manager_demo CATALOGUE OUTPUT.png [SECONDS]
#include "MgmtForm.h"
#include "MsgBox.h"
#include "RdpCommon.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CATALOGUE OUTPUT.png [SECONDS]\n", argv[0]);
        return 2;
    }
    InstallErrorMessageBoxes();
    UseIniFile(QString::fromLocal8Bit(argv[1]));
    const QString output = QString::fromLocal8Bit(argv[2]);
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 6;

    TfrmMgmt form;
    form.resize(760, 420);
    form.show();
    if (TListItem *row = RowAt(form.lvSvr, 2))
        row->setSelected(true);
    int status = 0;
    QTimer::singleShot(seconds * 1000, &app, [&] {
        if (!form.grab().save(output)) {
            std::fprintf(stderr, "cannot save %s\n", qPrintable(output));
            status = 1;
        }
        app.quit();
    });
    app.exec();
    ReleaseCatalogue();
    return status;
}
