#include "CommandLine.h"

#include "AppError.h"
#include "Catalogue.h"
#include "CatalogueSetup.h"
#include "CatalogueTransfer.h"
#include "PgStore.h"
#include "RdpCommon.h"
#include "ServerListLocation.h"
#include "SessionLaunch.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

// The value of "--name VALUE" or "--name=VALUE" at arguments[i] (moving i past it);
// nullopt when the argument is another one. An empty value is the mistake.
std::optional<QString> optionValue(const QStringList &arguments, qsizetype &i, const QString &name)
{
    const QString &argument = arguments[i];
    if (argument == name)
        return i + 1 < arguments.size() ? arguments[++i] : QString();
    if (argument.startsWith(name + QLatin1Char('=')))
        return argument.mid(name.size() + 1);
    return std::nullopt;
}

} // namespace

ServerListOptions ParseServerListOptions(const QStringList &arguments)
{
    ServerListOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (argument == QLatin1String("--version") || argument == QLatin1String("-v")) {
            options.version = true;
        } else if (const auto file = optionValue(arguments, i, QStringLiteral("--file"))) {
            if (file->isEmpty()) {
                options.error = QStringLiteral("选项 --file 后面需要服务器列表文件的路径。");
                return options;
            }
            options.file = QFileInfo(*file).absoluteFilePath();
        } else if (const auto database = optionValue(arguments, i, QStringLiteral("--database"))) {
            if (PgStore::Describe(*database).isEmpty()) {
                options.error = QStringLiteral("选项 --database 后面需要数据库地址，形如 postgresql://用户@主机:端口/数据库。");
                return options;
            }
            options.database = *database;
        } else if (const auto from = optionValue(arguments, i, QStringLiteral("--import"))) {
            options.importFile = QFileInfo(*from).absoluteFilePath();
        } else if (const auto to = optionValue(arguments, i, QStringLiteral("--export"))) {
            options.exportFile = QFileInfo(*to).absoluteFilePath();
        } else if (const auto address = optionValue(arguments, i, QStringLiteral("--connect"))) {
            if (address->trimmed().isEmpty()) {
                options.error = QStringLiteral("选项 --connect 后面需要服务器地址，形如 主机 或 主机:端口。");
                return options;
            }
            options.sessions.append({SessionRequest::Kind::Address, *address});
        } else if (!argument.startsWith(u'-') && argument.endsWith(QLatin1String(".rdp"), Qt::CaseInsensitive)) {
            options.sessions.append({SessionRequest::Kind::File, QFileInfo(argument).absoluteFilePath()});
        }
        if (options.sessions.size() > MaxCommandLineSessions) {
            options.error = QStringLiteral("一次最多打开 %1 个会话。").arg(MaxCommandLineSessions);
            return options;
        }
    }
    if (options.OpensSession() && !(options.importFile.isEmpty() && options.exportFile.isEmpty()))
        options.error = QStringLiteral("打开会话时不能同时使用 --import 或 --export。");
    if ((!options.importFile.isEmpty() || !options.exportFile.isEmpty()) && !options.file.isEmpty())
        options.error = QStringLiteral("选项 --import 和 --export 与数据库一起用，不能与 --file 同用。");
    if (!options.file.isEmpty() && !options.database.isEmpty())
        options.error = QStringLiteral("选项 --file 和 --database 只能选一个。");
    return options;
}

int RunCatalogueTransfer(int argc, char *argv[], const ServerListOptions &options)
{
    const QString database = options.database.isEmpty() ? DatabaseSetting() : options.database;
    if (database.isEmpty()) {
        std::fputs("选项 --import 和 --export 需要数据库：--database 地址，或设置中的 [Catalogue] Database=。\n", stderr);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString where = PgStore::Describe(database);
    try {
        const bool importing = !options.importFile.isEmpty();
        const CatalogueCopySummary summary = importing ? ImportIniIntoDatabase(options.importFile, database)
                                                       : ExportDatabaseToIni(database, options.exportFile);
        const QString text = importing ? summary.text(options.importFile, where) : summary.text(where, options.exportFile);
        std::printf("%s\n", qPrintable(text));
        return 0;
    } catch (const AppError &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }
}

std::unique_ptr<Catalogue> MakeChosenCatalogue(const ServerListOptions &options)
{
    if (!options.database.isEmpty())
        return MakeDatabaseCatalogue(options.database);
    if (!options.file.isEmpty())
        return MakeIniCatalogue(options.file);
    if (const QString database = DatabaseSetting(); !database.isEmpty())
        return MakeDatabaseCatalogue(database);
    return MakeIniCatalogue(DefaultServerListPath());
}

QString ServerListUsage(const QString &program)
{
    return QStringLiteral("用法：%1 [--file 文件 | --database 地址]\n"
                          "      %1 连接文件.rdp... | --connect 主机[:端口]...\n"
                          "  --file 文件  使用这个服务器列表文件，而不是默认的 SvrList.ini\n"
                          "  --database 地址  使用团队共享的 PostgreSQL 数据库中的服务器目录，\n"
                          "                   地址形如 postgresql://用户@主机:端口/数据库\n"
                          "                   （也可写在 ~/.config/brennic/brennic.conf 的 [Catalogue] Database=）\n"
                          "  --import 文件    把这个服务器列表文件复制到数据库中（编号空闲时保留），然后退出\n"
                          "  --export 文件    把数据库中的服务器目录写入这个新的服务器列表文件，然后退出\n"
                          "  连接文件.rdp       只打开这个远程桌面连接文件中的服务器的会话窗口，不打开管理器；\n"
                          "                     可给出多个文件，每个一个窗口，都在同一个程序中；\n"
                          "                     最后一个会话窗口关闭时程序随之结束\n"
                          "  --connect 主机[:端口]  同上，连接这个地址（IPv6 地址写成 [地址]:端口）；\n"
                          "                     可重复，也可与连接文件混用，一次最多 %2 个会话；\n"
                          "                     其中任何一个无法使用时，一个窗口也不打开\n"
                          "  --help, -h   显示本说明，然后退出\n"
                          "  --version, -v  显示版本号，然后退出\n"
                          "默认的服务器列表文件：$XDG_CONFIG_HOME/brennic/SvrList.ini（未设置时为 ~/.config），\n"
                          "程序目录下已有 SvrList.ini 时则用那一个。\n")
        .arg(program, QString::number(MaxCommandLineSessions));
}

std::optional<int> ApplyServerListOptions(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ServerListOptions options = ParseServerListOptions(arguments);
    const QString program = QFileInfo(arguments.value(0)).fileName();
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n%s", qPrintable(options.error), qPrintable(ServerListUsage(program)));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(ServerListUsage(program)), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs("Brennic " BRENNIC_VERSION " " BRENNIC_CODENAME "\n", stdout);
        return 0;
    }
    if (!options.importFile.isEmpty() || !options.exportFile.isEmpty())
        return RunCatalogueTransfer(argc, argv, options);
    if (options.OpensSession())
        return RunCommandLineSession(argc, argv, options);
    Catalogue::Install(MakeChosenCatalogue(options));
    return std::nullopt;
}
