#pragma once

#include <QString>
#include <QStringList>

struct WebModule;

// Loads the web engine module, which only a process that makes the program's web
// pages needs: a process that opens a session alone never maps the engine. The
// module is looked for beside the executable, then in the program's module folder
// of an installation (../lib/<multiarch>/brennic from the executable's folder),
// then in the build tree it was built in.
//
// The module, loaded now if it was not yet; nullptr when it cannot be loaded, with
// error saying which module and why (the dynamic loader's words). A failed load is
// not tried again: the engine is set up before the application object exists, or
// not at all. GUI thread, or before the application object exists.
const WebModule *LoadWebModule(QString *error);
// The module if it has been loaded, else nullptr; never loads it.
const WebModule *LoadedWebModule();

// The file name of the module.
QString WebModuleFileName();
// The folders the module is looked for in, in order.
QStringList WebModuleFolders();
// Puts other folders in their place, for a test; an empty list restores them.
// A failed load may be tried again after it.
void SetWebModuleFolders(const QStringList &folders);
