#include "ModuleFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <dlfcn.h>

namespace {

QString LastLoaderError()
{
    const char *text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
}

} // namespace

QString ExecutableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QString FirstModulePath(const QStringList &folders, const QString &fileName)
{
    QStringList paths;
    for (const QString &folder : folders)
        paths.append(QDir(folder).filePath(fileName));
    for (const QString &candidate : std::as_const(paths))
        if (QFileInfo::exists(candidate))
            return candidate;
    return paths.value(0);
}

void *OpenModuleEntry(const QString &path, const char *entryName, QString &error)
{
    void *module = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        error = LastLoaderError();
        return nullptr;
    }
    void *entry = dlsym(module, entryName);
    if (!entry)
        error = LastLoaderError();
    return entry;
}
