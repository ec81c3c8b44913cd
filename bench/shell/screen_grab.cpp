// Saves a picture of the whole X screen: screen_grab <file.png> [delay ms]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: screen_grab <file.png> [delay ms]\n");
        return 2;
    }
    if (argc > 2)
        QThread::msleep(QByteArray(argv[2]).toULong());
    QScreen *screen = QGuiApplication::primaryScreen();
    const QPixmap picture = screen ? screen->grabWindow(0) : QPixmap();
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "screen_grab: no picture of the screen\n");
        return 1;
    }
    return 0;
}
