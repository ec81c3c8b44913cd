// Brennic's entry: the main window with the server manager in its first tab.
#include "LogonForm.h"
#include "Main.h"
#include "ManagerHost.h"
#include "MsgBox.h"
#include "RdpCommon.h"
#include "CommandLine.h"
#include "ShellPages.h"
#include "Translations.h"
#include "WebEngineSetup.h"

#include <QApplication>

#include <malloc.h>

int main(int argc, char *argv[])
{
    // Blocks of 256 KiB and more (a session's frame buffers and decoded pictures)
    // come from the system and go back to it when freed. Left to itself the
    // allocator raises that threshold to the largest block freed so far, after
    // which such buffers stay in the threads' heaps, and are kept there, freed
    // or not, for the rest of the process. Before any thread starts.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    // The command line may choose the server list file, or ask for help.
    if (const std::optional<int> exitCode = ApplyServerListOptions(argc, argv))
        return *exitCode;
    WebEngineArguments arguments = PrepareWebEngine(argc, argv);
    QApplication app(arguments.Count(), arguments.Values());
    // The desktop entry the windows belong to (its name is the program's id).
    QGuiApplication::setDesktopFileName(QStringLiteral(BRENNIC_APP_ID));
    InstallTranslations(&app);
    // The main window alone ends the program; other windows are never asked to close.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallErrorMessageBoxes();
    // The windows and the manager's list first, then the web engine and its pages.
    HoldWebPages();
    {
        // Created in this order, destroyed in the reverse one.
        TFormMain FormMain(DefaultPageShowingFile());
        const std::unique_ptr<QWidget> frmMgmt = CreateManagerWindow();
        TfrmLogon frmLogon;
        const std::unique_ptr<QWidget> frmGrpName = CreateGroupNameWindow();

        FormMain.SetManager(frmMgmt.get());
        QObject::connect(&FormMain, &TFormMain::Closed, &app, [] { QCoreApplication::exit(0); });
        // Watched from before it shows: showing it may open a message box of the manager's.
        ReleaseWebPagesOncePainted(&FormMain);
        FormMain.show();
        app.exec();
    }
    ReleaseCatalogue();
    return 0;
}
