// A session whose network goes away under it: inside a network namespace of
// the test's own, the FreeRDP shadow server's port is cut with nftables (every
// packet dropped, as when a cable is pulled) and let through again. A short cut
// is bridged by reconnecting without a word; a long one ends with the disconnect
// box after the last try; the user can give up or close at any time.

#include "MessageBoxAnswers.h"
#include "MsgBox.h"
#include "SessionTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

constexpr QRgb Background = 0x336699;
constexpr QRgb Other = 0xCC6633;

QString g_whyNoNamespace;

// A colour under the reconnect panel's shade.
QRgb Dimmed(QRgb color)
{
    const auto part = [](int c) { return c * 145 / 255; };
    return qRgb(part(qRed(color)), part(qGreen(color)), part(qBlue(color))) & 0xFFFFFF;
}

// Reconnect timing for these tests: a loss is noticed in about two seconds and
// the five tries spread over five seconds, so that a long cut ends in seconds.
RdpReconnectTiming TestTiming()
{
    RdpReconnectTiming timing;
    timing.Tries = 5;
    timing.TotalMs = 5000;
    timing.LossDetectMs = 1000;
    return timing;
}

// Tries five seconds apart: a worker that does not end at once when told waits
// for the end of its try or for the next one.
RdpReconnectTiming SlowTiming()
{
    RdpReconnectTiming timing = TestTiming();
    timing.TotalMs = 25000;
    return timing;
}

// Sessions opened while it lives reconnect on the slow timing.
class SlowTries {
public:
    SlowTries() { TMsRdpClient5::SetReconnectTiming(SlowTiming()); }
    ~SlowTries() { TMsRdpClient5::SetReconnectTiming(TestTiming()); }
};

// Drops every packet to and from one TCP port of the namespace while it lives,
// and notes the source port of every connection attempt made to it meanwhile.
// Refusing instead answers new connections with a reset, as a host whose server
// is not up yet does.
class NetworkCut {
public:
    explicit NetworkCut(int port) : port_(port), table_(QStringLiteral("brennic_cut_%1").arg(::getpid())) {}
    ~NetworkCut() { End(); }

    bool Start(QString *error, bool refuse = false)
    {
        const QString script = QStringLiteral(
                                   "table inet %1 {\n"
                                   "  set tries { type inet_service; flags dynamic; }\n"
                                   "  chain out { type filter hook output priority 0; }\n"
                                   "}\n")
                                   .arg(table_);
        active_ = Nft({QStringLiteral("-f"), QStringLiteral("-")}, script.toUtf8(), error) && Rules(refuse, error);
        return active_;
    }

    // Connection attempts (distinct source ports) made to the port during the cut.
    int Attempts()
    {
        QString error;
        QByteArray listing;
        if (!Nft({QStringLiteral("list"), QStringLiteral("set"), QStringLiteral("inet"), table_, QStringLiteral("tries")},
                 {}, &error, &listing))
            return -1;
        const qsizetype open = listing.indexOf("elements = {");
        if (open < 0)
            return 0;
        const QByteArray elements = listing.mid(open + 12, listing.indexOf('}', open) - open - 12);
        QSet<int> ports;
        for (const QByteArray &item : elements.split(','))
            if (const int port = item.trimmed().toInt(); port > 0)
                ports.insert(port);
        return int(ports.size());
    }

    void End()
    {
        if (!active_)
            return;
        QString error;
        Nft({QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"), table_}, {}, &error);
        active_ = false;
    }

private:
    bool Rules(bool refuse, QString *error)
    {
        const QString script = QStringLiteral(
                                   "flush chain inet %1 out\n"
                                   "add rule inet %1 out tcp dport %2 tcp flags & (syn | ack) == syn add @tries { tcp sport }\n"
                                   "add rule inet %1 out tcp dport %2 tcp flags & (syn | ack) == syn %3\n"
                                   "add rule inet %1 out tcp dport %2 drop\n"
                                   "%4"
                                   "add rule inet %1 out tcp sport %2 drop\n")
                                   .arg(table_)
                                   .arg(port_)
                                   .arg(refuse ? QStringLiteral("reject with tcp reset") : QStringLiteral("drop"))
                                   // The reset itself comes from the port.
                                   .arg(refuse ? QStringLiteral("add rule inet %1 out tcp sport %2 tcp flags & rst == rst accept\n").arg(table_).arg(port_) : QString());
        return Nft({QStringLiteral("-f"), QStringLiteral("-")}, script.toUtf8(), error);
    }

    static bool Nft(const QStringList &arguments, const QByteArray &input, QString *error, QByteArray *output = nullptr)
    {
        QProcess nft;
        nft.start(QStringLiteral("nft"), arguments);
        if (!nft.waitForStarted(3000)) {
            *error = QStringLiteral("nft did not start");
            return false;
        }
        nft.write(input);
        nft.closeWriteChannel();
        if (!nft.waitForFinished(5000) || nft.exitCode() != 0) {
            *error = QStringLiteral("nft %1: %2").arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(nft.readAllStandardError()));
            RdpTest::StopProcess(nft);
            return false;
        }
        if (output)
            *output = nft.readAllStandardOutput();
        return true;
    }

    int port_;
    QString table_;
    bool active_ = false;
};

} // namespace

class TestSessionReconnect : public QObject {
    Q_OBJECT

private:
    QTemporaryDir work_;
    RdpTest::Display display_;
    RdpTest::Server server_;
    RdpTest::Painter painter_;
    std::unique_ptr<MessageBoxAnswers> boxes_;
    std::unique_ptr<FakeOwner> owner_;

    QPointer<TfrmClient> OpenConnected()
    {
        QPointer<TfrmClient> form = owner_->Open(Settings(QStringLiteral("127.0.0.1"), server_.Port()));
        QSignalSpy connected(form->msrdpclnt1, &TMsRdpClient5::OnConnected);
        if (!connected.wait(TfrmClient::TimeOutMs) && connected.isEmpty())
            return nullptr;
        return form;
    }

    bool Shows(const QPointer<TfrmClient> &form, QRgb color, int ms = 5000)
    {
        if (WaitUntil([&] { return form && NearColor(CentrePixel(form->msrdpclnt1), color); }, ms))
            return true;
        qWarning("centre pixel %06x, expected %06x", form ? CentrePixel(form->msrdpclnt1) : 0u, color);
        return false;
    }

    static QWidget *Panel(TfrmClient *form) { return form->msrdpclnt1->findChild<QWidget *>(QStringLiteral("reconnectPanel")); }

    // A connected session whose network is cut: the window, and the
    // reconnect attempts it has announced.
    struct CutSession {
        explicit CutSession(int port) : cut(port) {}
        NetworkCut cut;
        QPointer<TfrmClient> form;
        std::unique_ptr<QSignalSpy> reconnecting;
        QElapsedTimer sinceCut;
    };

    // Connects, cuts the network and returns once the session has noticed and
    // its first attempt to reconnect runs; false when it never gets there. A
    // refusing cut answers the attempts with a reset.
    bool CutWhileConnected(CutSession &s, bool refuse = false)
    {
        s.form = OpenConnected();
        if (!s.form || !Shows(s.form, Background))
            return false;
        boxes_->Clear();
        s.reconnecting = std::make_unique<QSignalSpy>(s.form->msrdpclnt1, &TMsRdpClient5::OnAutoReconnecting);
        QString error;
        if (!s.cut.Start(&error, refuse)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        s.sinceCut.start();
        return s.reconnecting->wait(8000) && s.form;
    }

private slots:
    void initTestCase()
    {
        if (!g_whyNoNamespace.isEmpty())
            QSKIP(qPrintable(QStringLiteral("the network is cut in a namespace of the test's own, which ") + g_whyNoNamespace));
        if (!TestDisplay::HaveProgram(QStringLiteral("nft")))
            QSKIP("needs nft (nftables) to cut the network");
        const QString missing = RdpTest::MissingServerPrograms();
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs %1 for a loopback RDP server").arg(missing)));
        InstallErrorMessageBoxes();
        TMsRdpClient5::SetCertificateStoreFolder(work_.filePath(QStringLiteral("store")));
        TMsRdpClient5::SetReconnectTiming(TestTiming());
        QString error;
        QVERIFY2(display_.Start(&error), qPrintable(error));
        QVERIFY(painter_.Start(QStringLiteral(BRENNIC_X11_TARGET), display_, QStringLiteral("336699")));
        QVERIFY2(server_.Start(display_, &error), qPrintable(error));
        // nft works here: a cut of nothing in particular is made and undone.
        NetworkCut probe(1);
        QVERIFY2(probe.Start(&error), qPrintable(error));
    }

    void init()
    {
        boxes_ = std::make_unique<MessageBoxAnswers>();
        owner_ = std::make_unique<FakeOwner>();
    }

    void cleanup()
    {
        owner_.reset();
        QVERIFY(WaitForRdpWorkers(2000));
        boxes_.reset();
    }

    // Three seconds without a network: the session notices, shows that it
    // reconnects over its last picture, comes back by itself and goes on as if
    // nothing had happened: no box, the window open, the picture live.
    void shortCutComesBackWithoutABox()
    {
        CutSession s(server_.Port());
        QVERIFY(CutWhileConnected(s));
        QPointer<TfrmClient> form = s.form;
        QSignalSpy &reconnecting = *s.reconnecting;
        QElapsedTimer &sinceCut = s.sinceCut;
        QVERIFY2(sinceCut.elapsed() < 3000, qPrintable(QStringLiteral("noticed after %1 ms").arg(sinceCut.elapsed())));
        QSignalSpy reconnected(form->msrdpclnt1, &TMsRdpClient5::OnAutoReconnected);
        QSignalSpy disconnected(form->msrdpclnt1, &TMsRdpClient5::OnDisconnected);

        // Over the last picture, which try this is.
        QWidget *panel = Panel(form);
        QVERIFY(panel && panel->isVisible());
        QCOMPARE(panel->findChild<QLabel *>()->text(), QStringLiteral("正在重新连接(第 1 次,共 5 次)…"));
        QCOMPARE(reconnecting.at(0).at(1).toInt(), 1);
        QCOMPARE(reconnecting.at(0).at(2).toInt(), 5);
        QVERIFY(form->msrdpclnt1->IsReconnecting());
        QCOMPARE(form->msrdpclnt1->Connected(), short(1));
        // The last picture stays, dimmed, around the panel's box.
        QVERIFY(!form->msrdpclnt1->RemoteFrame().isNull());
        const QRgb corner = form->msrdpclnt1->grab().toImage().pixel(4, 4) & 0xFFFFFF;
        QVERIFY2(NearColor(corner, Dimmed(Background), 16), qPrintable(QString::number(corner, 16)));

        QTest::qWait(int(std::max<qint64>(0, 3000 - sinceCut.elapsed())));
        s.cut.End();
        QVERIFY(reconnected.wait(8000));
        QVERIFY(!panel->isVisible());
        QVERIFY(!form->msrdpclnt1->IsReconnecting());
        QVERIFY(form->msrdpclnt1->Connected() > 0);

        // The session is live: a change on the server's display reaches it.
        painter_.Stop();
        RdpTest::Painter other;
        QVERIFY(other.Start(QStringLiteral(BRENNIC_X11_TARGET), display_, QStringLiteral("cc6633")));
        QVERIFY(Shows(form, Other, 8000));
        other.Stop();
        QVERIFY(painter_.Start(QStringLiteral(BRENNIC_X11_TARGET), display_, QStringLiteral("336699")));
        QVERIFY(Shows(form, Background, 8000));

        QVERIFY(form && form->isVisible() && !form->LDisconnected);
        QCOMPARE(disconnected.size(), 0);
        QCOMPARE(boxes_->texts, QStringList());
        QCOMPARE(boxes_->questions, QStringList()); // the certificate is known by then
        QCOMPARE(owner_->open.size(), 1);
    }

    // A cut that outlasts every try: five real attempts to reach the server,
    // each shown, and the disconnect box only after the last has failed.
    void longCutShowsTheBoxAfterTheLastTry()
    {
        CutSession s(server_.Port());
        QVERIFY(CutWhileConnected(s));
        QPointer<TfrmClient> form = s.form;
        QSignalSpy &reconnecting = *s.reconnecting;
        QWidget *panel = Panel(form);
        QLabel *label = panel->findChild<QLabel *>();
        QStringList seen;
        QObject::connect(form->msrdpclnt1, &TMsRdpClient5::OnAutoReconnecting, label,
                         [&] { seen << label->text(); });
        QVERIFY(WaitUntil([&] { return !boxes_->texts.isEmpty(); }, TestTiming().TotalMs + 5000));

        QCOMPARE(reconnecting.size(), 5);
        for (int k = 0; k < 5; ++k) {
            QCOMPARE(reconnecting.at(k).at(1).toInt(), k + 1);
            QCOMPARE(reconnecting.at(k).at(2).toInt(), 5);
        }
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen.last(), QStringLiteral("正在重新连接(第 5 次,共 5 次)…"));
        // Every try went out to the server's port.
        QCOMPARE(s.cut.Attempts(), 5);

        QCOMPARE(boxes_->texts.size(), 1);
        const QString text = boxes_->texts[0];
        QVERIFY2(text.contains(QStringLiteral("服务器: 127.0.0.1:%1").arg(server_.Port())), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("5 次重新连接均未成功")), qPrintable(text));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 2000));
        QVERIFY(WaitForRdpWorkers(2000));
        QCOMPARE(owner_->open.size(), 0);
    }

    // The give-up button ends the session at once, with the disconnect box.
    void giveUpEndsAtOnceWithTheBox()
    {
        SlowTries slow;
        CutSession s(server_.Port());
        QVERIFY(CutWhileConnected(s));
        QPointer<TfrmClient> form = s.form;
        QSignalSpy &reconnecting = *s.reconnecting;
        auto *button = Panel(form)->findChild<QPushButton *>();
        QVERIFY(button && button->isVisible());
        QCOMPARE(button->text(), QStringLiteral("放弃重新连接"));
        QElapsedTimer sinceClick;
        sinceClick.start();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(WaitUntil([&] { return !boxes_->texts.isEmpty(); }, 3000));
        const qint64 told = sinceClick.elapsed();
        QVERIFY2(told < 2000, qPrintable(QStringLiteral("box after %1 ms").arg(told)));
        QCOMPARE(reconnecting.size(), 1);
        QVERIFY2(boxes_->texts[0].contains(QStringLiteral("已放弃重新连接")), qPrintable(boxes_->texts[0]));
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QVERIFY(WaitForRdpWorkers(2000));
        QCOMPARE(RdpWorkerCount(), 0);
        QCOMPARE(owner_->open.size(), 0);
    }

    // Closing the window while it reconnects: it goes at once, nothing is
    // shown, and no worker is left behind.
    void closeDuringReconnectLeavesNoWorker_data()
    {
        QTest::addColumn<bool>("betweenTries");
        // The try waits for a server that does not answer.
        QTest::newRow("during a try") << false;
        // The first try was refused at once; the second is seconds away.
        QTest::newRow("between tries") << true;
    }

    void closeDuringReconnectLeavesNoWorker()
    {
        QFETCH(bool, betweenTries);
        SlowTries slow;
        CutSession s(server_.Port());
        QVERIFY(CutWhileConnected(s, betweenTries));
        QPointer<TfrmClient> form = s.form;
        if (betweenTries)
            QTest::qWait(1000);
        QVERIFY(form->msrdpclnt1->IsReconnecting());
        QCOMPARE(s.reconnecting->size(), 1);
        QElapsedTimer sinceClose;
        sinceClose.start();
        form->close();
        QVERIFY(WaitForRdpWorkers(2000));
        QVERIFY2(sinceClose.elapsed() < 2000, qPrintable(QStringLiteral("%1 ms").arg(sinceClose.elapsed())));
        QCOMPARE(RdpWorkerCount(), 0);
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
        QTest::qWait(200);
        QCOMPARE(boxes_->texts, QStringList());
        QCOMPARE(owner_->open.size(), 0);
    }

    // With reconnecting turned off, a lost network ends the session as soon as
    // it is noticed, with the box that says so, and nothing is tried.
    void turnedOffEndsAtTheLoss()
    {
        auto *client = new TMsRdpClient5(owner_.get());
        client->AdvancedSettings2()->SetEnableAutoReconnect(false);
        client->SetServer(QStringLiteral("127.0.0.1"));
        client->AdvancedSettings2()->SetRDPPort(server_.Port());
        QSignalSpy connected(client, &TMsRdpClient5::OnConnected);
        QSignalSpy reconnecting(client, &TMsRdpClient5::OnAutoReconnecting);
        QSignalSpy disconnected(client, &TMsRdpClient5::OnDisconnected);
        client->Connect();
        QVERIFY(connected.wait(TfrmClient::TimeOutMs));
        NetworkCut cut(server_.Port());
        QString error;
        QVERIFY2(cut.Start(&error), qPrintable(error));
        QElapsedTimer sinceCut;
        sinceCut.start();
        QVERIFY(disconnected.wait(8000));
        QVERIFY2(sinceCut.elapsed() < 4000, qPrintable(QStringLiteral("%1 ms").arg(sinceCut.elapsed())));
        QCOMPARE(reconnecting.size(), 0);
        QVERIFY2(client->DisconnectCause().contains(QStringLiteral("网络连接中断")), qPrintable(client->DisconnectCause()));
        QCOMPARE(cut.Attempts(), 0);
    }

    // A server that goes away on its own (its process ends; its host closes the
    // connection) is no network loss: the user is told at once, nothing is tried.
    void serverThatEndsIsNotReconnected()
    {
        QPointer<TfrmClient> form = OpenConnected();
        QVERIFY(form);
        QVERIFY(Shows(form, Background));
        QSignalSpy reconnecting(form->msrdpclnt1, &TMsRdpClient5::OnAutoReconnecting);
        auto restart = qScopeGuard([&] {
            QString error;
            server_.Start(display_, &error, {}, {}, server_.Port());
        });
        server_.Kill();
        QVERIFY(WaitUntil([&] { return !boxes_->texts.isEmpty(); }, 3000));
        QCOMPARE(reconnecting.size(), 0);
        QVERIFY(WaitUntil([&] { return form.isNull(); }, 1000));
    }
};

int main(int argc, char **argv)
{
    PrivateNetwork::Enter(&g_whyNoNamespace);
    QApplication app(argc, argv);
    TestSessionReconnect test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessionreconnect.moc"
