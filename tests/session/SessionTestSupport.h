#pragma once

#include "ClientForm.h"
#include "RdpTestServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTest>

#include <functional>

// Stands in for the manager: keeps the list of open session windows.
class FakeOwner : public QWidget {
public:
    QList<TfrmClient *> open;
    int removeCalls = 0;

    void AddOpenClnt(TfrmClient *aFrmClnt)
    {
        open.append(aFrmClnt);
        QObject::connect(aFrmClnt, &TfrmClient::finished, this, [this](TfrmClient *window) { RemoveOpenClnt(window); });
    }
    void RemoveOpenClnt(TfrmClient *aFrmClnt)
    {
        ++removeCalls;
        open.removeOne(aFrmClnt);
    }

    TfrmClient *Open(const TClientSettings &settings)
    {
        TfrmClient *form = OpenClientWindow(this, settings);
        AddOpenClnt(form);
        return form;
    }
};

// A cut attempt ends well inside the attempt's own 10 s time-out; the bound is
// that far from it so that a busy machine under the sanitizers still meets it.
inline constexpr int CutMs = 5000;
// Closing windows never waits for their workers, which would take seconds.
inline constexpr int CloseMs = 1000;

inline TClientSettings Settings(const QString &server, int port, int width = 1024, int height = 768)
{
    TClientSettings s;
    s.Server = server;
    s.Port = port;
    s.User = QStringLiteral("rdpuser");
    s.Password = QStringLiteral("S3cret!");
    s.Width = width;
    s.Height = height;
    return s;
}

// Runs the event loop until the condition holds or the time is up.
inline bool WaitUntil(const std::function<bool()> &condition, int milliseconds)
{
    return QTest::qWaitFor(condition, milliseconds);
}

// Closes every window still there; how long the closes took, in milliseconds.
inline qint64 CloseAll(const QList<QPointer<TfrmClient>> &forms)
{
    QElapsedTimer timer;
    timer.start();
    for (const auto &form : forms)
        if (form)
            form->close();
    return timer.elapsed();
}

// Threads of this process.
inline int ThreadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// A listener on loopback that accepts connections and never says a word.
class SilentServer : public QTcpServer {
public:
    SilentServer() { listen(QHostAddress::LocalHost); }
    int Port() const { return serverPort(); }

protected:
    void incomingConnection(qintptr handle) override { handles.append(handle); }

public:
    QList<qintptr> handles;
    ~SilentServer() override
    {
        for (qintptr h : handles)
            ::close(int(h));
    }
};

// Two colours that differ by no more than the server's lossy codecs make them.
inline bool NearColor(QRgb a, QRgb b, int tolerance = 12)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// The colour of the pixel at the centre of a widget's picture, as the user sees it.
inline QRgb CentrePixel(QWidget *widget)
{
    const QImage image = widget->grab().toImage();
    return image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFF;
}
