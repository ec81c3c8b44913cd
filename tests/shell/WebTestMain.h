#pragma once

#include "WebEngineSetup.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

// A private runtime folder (mode 0700) for the test's own process tree.
inline void UsePrivateRuntimeDir()
{
    static QTemporaryDir runtime;
    if (runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

// A private configuration folder: the program's settings start empty and the
// user's own stay untouched.
inline void UsePrivateConfigDir()
{
    static QTemporaryDir config;
    if (config.isValid())
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
}

// A Qt Test main for tests that show web pages: the web engine is prepared as
// the program prepares it, before the application object exists; the test's own
// options go to Qt Test, the engine's switches to the application object only.
#define BRENNIC_WEB_TEST_MAIN(TestClass)                          \
    int main(int argc, char *argv[])                              \
    {                                                             \
        UsePrivateRuntimeDir();                                   \
        UsePrivateConfigDir();                                    \
        WebEngineArguments engine = PrepareWebEngine(argc, argv); \
        QApplication app(engine.Count(), engine.Values());        \
        TestClass test;                                           \
        return QTest::qExec(&test, argc, argv);                   \
    }
