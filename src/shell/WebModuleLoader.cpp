#include "WebModuleLoader.h"

#include "ModuleFile.h"
#include "WebModule.h"

#include <QCoreApplication>
#include <QDir>

#include <dlfcn.h>

namespace {

const WebModule *g_module = nullptr;
QString g_failure;     // why the module could not be loaded
QStringList g_folders; // set by a test

QString ModulePath()
{
    return FirstModulePath(WebModuleFolders(), WebModuleFileName());
}

// The module at path, loaded and asked for its table; nullptr with error set when it fails.
const WebModule *Open(const QString &path, QString &error)
{
    // Loaded for good: the engine keeps threads and helper processes until the program ends.
    auto entry = reinterpret_cast<WebModuleEntry>(OpenModuleEntry(path, WebModuleEntryPoint, error));
    if (!entry)
        return nullptr;
    const WebModule *table = entry(WebModuleInterfaceVersion);
    if (!table)
        error = QStringLiteral("%1: built for another version of this program").arg(path);
    return table;
}

} // namespace

QString WebModuleFileName()
{
    return QStringLiteral(BRENNIC_WEB_MODULE_FILE);
}

QStringList WebModuleFolders()
{
    if (!g_folders.isEmpty())
        return g_folders;
    const QString beside = ExecutableFolder();
    return {beside, QDir::cleanPath(beside + QStringLiteral("/" BRENNIC_WEB_MODULE_INSTALLED)),
            QStringLiteral(BRENNIC_WEB_MODULE_BUILT)};
}

void SetWebModuleFolders(const QStringList &folders)
{
    g_folders = folders;
    g_failure.clear();
}

const WebModule *LoadedWebModule()
{
    return g_module;
}

const WebModule *LoadWebModule(QString *error)
{
    if (!g_module && g_failure.isEmpty()) {
        QString why;
        g_module = Open(ModulePath(), why);
        if (!g_module)
            g_failure = QStringLiteral("无法加载网页组件 %1: %2").arg(WebModuleFileName(), why);
    }
    if (!g_module && error)
        *error = g_failure;
    return g_module;
}
