// A race on purpose, after a child process has been started the way QProcess
// starts it: the ThreadSanitizer build must still report it.
#include <QCoreApplication>
#include <QProcess>

#include <cstdio>
#include <thread>

namespace {
int counter = 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QProcess child;
    child.start(QStringLiteral("/bin/true"), {});
    if (!child.waitForFinished(10000))
        return 2;
    std::thread other([] { ++counter; });
    ++counter;
    other.join();
    std::printf("counter %d\n", counter);
    return 0;
}
