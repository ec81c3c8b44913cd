#pragma once

#include <QString>
#include <QStringList>

class RdpBackend;

// Loads the RDP backend module the first time a session needs it, on the GUI
// thread. The module is looked for beside the executable, then in the program's
// module folder of an installation (../lib/<multiarch>/brennic from the
// executable's folder), then in the build tree it was built in.
//
// The backend, loaded now if it was not yet; nullptr when it cannot be loaded,
// with error saying which module and why (the dynamic loader's words). A failed
// load is tried again by the next call.
RdpBackend *LoadRdpBackend(QString *error);
// The backend if it has been loaded, else nullptr; never loads it.
RdpBackend *LoadedRdpBackend();
// Starts loading the module, and the library's one-off measuring of its pixel
// routines, on a thread of its own, for a session that is about to be opened
// while the program still sets up its windows. The next LoadRdpBackend waits for
// it; a module that cannot be loaded is reported by that call as ever.
void PreloadRdpBackend();

// The file name of the module.
QString RdpBackendFileName();
// The folders the module is looked for in, in order.
QStringList RdpBackendFolders();
// Puts other folders in their place, for a test; an empty list restores them.
void SetRdpBackendFolders(const QStringList &folders);
