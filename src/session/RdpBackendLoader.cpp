// Loading the RDP backend module at run time, so that a start of the program
// that opens no session never maps the client library and its codecs.
#include "RdpBackendLoader.h"

#include "ModuleFile.h"
#include "RdpBackend.h"

#include <QCoreApplication>
#include <QDir>

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

std::atomic<RdpBackend *> g_backend{nullptr};
QStringList g_folders; // set by a test; GUI thread only
std::mutex g_opening;  // the preloading thread and the GUI thread

// Loads the module on a thread of its own while the program sets up its
// windows; whoever needs the backend next waits for it. Joined at exit at the latest.
struct Preloader {
    std::thread thread;
    ~Preloader() { Finish(); }
    void Finish()
    {
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
            thread.join();
    }
};
Preloader g_preloader;

// The module at path, loaded and asked for its backend; nullptr with error set when it fails.
RdpBackend *Open(const QString &path, QString &error)
{
    // Loaded for good: a worker may still be inside the library when the program ends.
    auto entry = reinterpret_cast<RdpBackendEntry>(OpenModuleEntry(path, RdpBackendEntryPoint, error));
    if (!entry)
        return nullptr;
    RdpBackend *backend = entry(RdpBackendInterfaceVersion);
    if (!backend)
        error = QStringLiteral("%1: built for another version of this program").arg(path);
    return backend;
}

// The library sets up its pixel routines at their first use, measuring them
// where it has a choice to make; done here, that is over before the connection starts.
void WarmPixelRoutines()
{
    void *library = dlopen("libfreerdp2.so.2", RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return;
    using PrimitivesGet = void *(*)();
    if (auto primitivesGet = reinterpret_cast<PrimitivesGet>(dlsym(library, "primitives_get")))
        primitivesGet();
    dlclose(library); // only the reference taken here: the module keeps it loaded
}

QString ModulePath()
{
    return FirstModulePath(RdpBackendFolders(), RdpBackendFileName());
}

RdpBackend *OpenOnce(const QString &path, QString &why)
{
    std::lock_guard guard(g_opening);
    if (RdpBackend *loaded = g_backend.load())
        return loaded;
    RdpBackend *backend = Open(path, why);
    g_backend = backend;
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
    g_preloader.Finish();
    if (RdpBackend *loaded = g_backend.load())
        return loaded;
    QString why;
    RdpBackend *backend = OpenOnce(ModulePath(), why);
    if (!backend && error)
        *error = QStringLiteral("无法加载远程桌面组件 %1: %2").arg(RdpBackendFileName(), why);
    return backend;
}

void PreloadRdpBackend()
{
    if (g_backend.load() || g_preloader.thread.joinable())
        return;
    // The path is found here: the thread touches nothing of the program's but the module.
    g_preloader.thread = std::thread([path = ModulePath()] {
        QString why;
        if (OpenOnce(path, why))
            WarmPixelRoutines();
    });
}
