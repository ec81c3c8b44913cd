#pragma once

#include <QString>
#include <QStringList>

// The program's own modules: shared objects it loads at run time, looked for
// in a list of folders.

// The folder of the running program.
QString ExecutableFolder();

// Where the module fileName is: the first of folders that holds it decides;
// where none does, the first place looked in, for the loader's words that it
// is missing.
QString FirstModulePath(const QStringList &folders, const QString &fileName);

// Loads the module at path for good (a thread may still be inside it when the
// program ends) and finds its entry point; nullptr, with error set, when either fails.
void *OpenModuleEntry(const QString &path, const char *entryName, QString &error);
