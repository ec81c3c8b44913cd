// Brennic's entry. The windows are not built yet: for now the program loads the
// server catalogue beside its executable and lists what it holds.
#include "AppError.h"
#include "IniFile.h"
#include "RdpCommon.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brennic"));
    QTextStream out(stdout);
    try {
        LoadGroups();
        LoadServers();
    } catch (const AppError &error) {
        QTextStream(stderr) << error.message() << Qt::endl;
        return 1;
    }
    out << GetIniFile().fileName() << Qt::endl;
    out << "groups: " << GetSvrGroups().Count() << ", servers: " << GetSvrList().Count() << Qt::endl;
    for (const auto &server : GetSvrList())
        out << "  [" << server->Group.GroupName << "] " << server->ClntSett.Server << ':' << server->ClntSett.Port
            << "  " << server->Description << Qt::endl;
    if (const QString warning = TakeLoadWarning(); !warning.isEmpty())
        QTextStream(stderr) << warning << Qt::endl;
    return 0;
}
