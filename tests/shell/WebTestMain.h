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

// A Qt Test main for tests that show web pages: the web engine is prepared as
// the program prepares it, before the application object exists.
#define BRENNIC_WEB_TEST_MAIN(TestClass)                                                                               \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        UsePrivateRuntimeDir();                                                                                        \
        PrepareWebEngine();                                                                                            \
        QApplication app(argc, argv);                                                                                  \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
