// Test helper: a second copy of the program on a shared catalogue. Loads it, then
// runs the commands read from standard input, one a line, answering "ok [id]" or
// "error <text>", and reports each change it sees others make as "seen <what> <id>".
//   addgroup NAME | add ADDRESS | update ID DESCRIPTION | move ID GROUPNAME
//   rename ID NAME | delete ID | delgroup ID | password ID PASSWORD
#include "AppError.h"
#include "CatalogueEvents.h"
#include "RdpCommon.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString run(const QString &line)
{
    const QString verb = line.section(QLatin1Char(' '), 0, 0);
    const QString rest = line.section(QLatin1Char(' '), 1);
    const int id = rest.section(QLatin1Char(' '), 0, 0).toInt();
    const QString tail = rest.section(QLatin1Char(' '), 1);
    if (verb == QLatin1String("addgroup"))
        return QString::number(AddGroup(rest));
    if (verb == QLatin1String("add")) {
        TClientSettings s;
        s.Server = rest;
        s.User = QStringLiteral("peer");
        return QString::number(AddSvrItem(s, UngroupedId, QStringLiteral("from the peer"))->Id);
    }
    if (verb == QLatin1String("update")) {
        PSvrItem server = GetSvrItem(id);
        if (!server)
            throw AppError(QStringLiteral("no server %1").arg(id));
        UpdateSvrItem(id, server->ClntSett, tail);
    } else if (verb == QLatin1String("password")) {
        PSvrItem server = GetSvrItem(id);
        if (!server)
            throw AppError(QStringLiteral("no server %1").arg(id));
        TClientSettings settings = server->ClntSett;
        settings.Password = tail;
        UpdateSvrItem(id, settings, server->Description);
    } else if (verb == QLatin1String("move")) {
        SetSvrGroup(id, tail);
    } else if (verb == QLatin1String("rename")) {
        RenameGroup(id, tail);
    } else if (verb == QLatin1String("delete")) {
        DeleteSvrItem(GetSvrItem(id));
    } else if (verb == QLatin1String("delgroup")) {
        DeleteGroup(id);
    } else {
        throw AppError(QStringLiteral("unknown command ") + verb);
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: %s postgresql://...\n", argv[0]);
        return 2;
    }
    try {
        UseDatabase(app.arguments()[1]);
        LoadGroups();
        LoadServers();
    } catch (const AppError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    CatalogueEvents &events = CatalogueEvents::Instance();
    const auto seen = [](const char *what, int id) { say(QStringLiteral("seen %1 %2").arg(QLatin1String(what)).arg(id)); };
    QObject::connect(&events, &CatalogueEvents::GroupAdded, [&](int id) { seen("group-added", id); });
    QObject::connect(&events, &CatalogueEvents::GroupRenamed, [&](int id, const QString &) { seen("group-renamed", id); });
    QObject::connect(&events, &CatalogueEvents::GroupDeleted, [&](int id) { seen("group-deleted", id); });
    QObject::connect(&events, &CatalogueEvents::ServerAdded, [&](PSvrItem s) { seen("server-added", s->Id); });
    QObject::connect(&events, &CatalogueEvents::ServerChanged, [&](PSvrItem s) { seen("server-changed", s->Id); });
    QObject::connect(&events, &CatalogueEvents::ServerMoved, [&](PSvrItem s, int) { seen("server-moved", s->Id); });
    QObject::connect(&events, &CatalogueEvents::ServerDeleting, [&](PSvrItem s) { seen("server-deleted", s->Id); });

    QFile input;
    if (!input.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered))
        return 1;
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        const QByteArray raw = input.readLine();
        const QByteArray line = raw.trimmed();
        if (raw.isEmpty()) { // standard input closed
            notifier.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        try {
            say(QStringLiteral("ok ") + run(QString::fromUtf8(line)));
        } catch (const AppError &error) {
            say(QStringLiteral("error ") + QString(error.message()).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        }
    });
    say(QStringLiteral("ready"));
    const int code = app.exec();
    ReleaseCatalogue();
    return code;
}
