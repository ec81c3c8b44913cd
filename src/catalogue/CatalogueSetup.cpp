#include "CatalogueSetup.h"

#include "AppError.h"
#include "Catalogue.h"
#include "IniStore.h"
#include "PgStore.h"
#include "ServerListLocation.h"
#include "StoreThread.h"

#include <QCoreApplication>
#include <QFileInfo>

QString DefaultServerListPath()
{
    const QString dir = QCoreApplication::instance()
        ? QCoreApplication::applicationDirPath()
        : QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    return DefaultServerListFile(dir);
}

std::unique_ptr<Catalogue> MakeIniCatalogue(const QString &fileName)
{
    return std::make_unique<Catalogue>(std::make_unique<IniStore>(fileName));
}

std::unique_ptr<Catalogue> MakeDatabaseCatalogue(const QString &address)
{
    QString where = PgStore::Describe(address);
    if (where.isEmpty())
        where = address;
    auto catalogue = std::make_unique<Catalogue>(
        std::make_unique<StoreThread>([address] { return std::make_unique<PgStore>(address); }, where));
    catalogue->SetDatabaseAddress(address);
    return catalogue;
}

std::unique_ptr<Catalogue> MakeDefaultCatalogue()
{
    return MakeIniCatalogue(DefaultServerListPath());
}

void UseIniFile(const QString &fileName)
{
    Catalogue::ReleaseCurrent();
    Catalogue::Install(MakeIniCatalogue(fileName));
}

void UseDatabase(const QString &address)
{
    Catalogue::ReleaseCurrent();
    Catalogue::Install(MakeDatabaseCatalogue(address));
}

IniFile &GetIniFile()
{
    auto *ini = dynamic_cast<IniStore *>(&Catalogue::Current().Store());
    if (!ini)
        throw AppError(QStringLiteral("服务器目录在数据库中，没有服务器列表文件。"));
    return ini->file();
}
