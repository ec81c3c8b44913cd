// Loading the RDP backend module at run time, so that a start of the program
// that opens no session never maps the client library and its codecs.
#include "RdpBackendLoader.h"

#include "RdpBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <dlfcn.h>

#include <atomic>

namespace {

std::atomic<RdpBackend *> g_backend{nullptr};
QStringList g_folders; // set by a test; GUI thread only

QString ExecutableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QString LastLoaderError()
{
    const char *text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
}

// The module at path, loaded and asked for its backend; nullptr with error set when it fails.
RdpBackend *Open(const QString &path, QString &error)
{
    // Loaded for good: a worker may still be inside the library when the program ends.
    void *module = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        error = LastLoaderError();
        return nullptr;
    }
    auto entry = reinterpret_cast<RdpBackendEntry>(dlsym(module, RdpBackendEntryPoint));
    if (!entry) {
        error = LastLoaderError();
        return nullptr;
    }
    RdpBackend *backend = entry(RdpBackendInterfaceVersion);
    if (!backend)
        error = QStringLiteral("%1: built for another version of this program").arg(path);
    return backend;
}

} // namespace

QString RdpBackendFileName()
{
    return QStringLiteral(BRENNIC_RDP_BACKEND_FILE);
}

QStringList RdpBackendFolders()
{
    if (!g_folders.isEmpty())
        return g_folders;
    const QString beside = ExecutableFolder();
    return {beside, QDir::cleanPath(beside + QStringLiteral("/" BRENNIC_RDP_BACKEND_INSTALLED)),
            QStringLiteral(BRENNIC_RDP_BACKEND_BUILT)};
}

void SetRdpBackendFolders(const QStringList &folders)
{
    g_folders = folders;
}

RdpBackend *LoadedRdpBackend()
{
    return g_backend.load();
}

RdpBackend *LoadRdpBackend(QString *error)
{
    if (RdpBackend *loaded = g_backend.load())
        return loaded;
    // The first folder that holds the module decides; where none does, the
    // loader's words for the first place looked in tell that it is missing.
    QStringList paths;
    for (const QString &folder : RdpBackendFolders())
        paths.append(QDir(folder).filePath(RdpBackendFileName()));
    QString path = paths.value(0);
    for (const QString &candidate : std::as_const(paths))
        if (QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    QString why;
    RdpBackend *backend = Open(path, why);
    if (!backend) {
        if (error)
            *error = QStringLiteral("无法加载远程桌面组件 %1: %2").arg(RdpBackendFileName(), why);
        return nullptr;
    }
    g_backend = backend;
    return backend;
}
