// Where this user may open no ICMP socket, the manager says so in its window: an
// information bar above the list and a word in the status bar, never a box that
// holds up the start. The bar can be closed for good.
#include "ManagerFixture.h"
#include "MessageBoxAnswers.h"
#include "PingEngine.h"
#include "ProbeNotice.h"
#include "ProgramSettings.h"

#include <QLabel>
#include <QStatusBar>
#include <QToolButton>

#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Takes this thread into a network namespace of its own, whose ping_group_range
// ("1 0") admits nobody to datagram ICMP sockets, and gives up CAP_NET_RAW, which
// raw ones need. False when the system does not let the test do so.
bool TakeIcmpAway()
{
    if (::unshare(CLONE_NEWNET) != 0)
        return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

class TestProbeNotice : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        static QTemporaryDir config; // the program's settings start empty
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        if (::geteuid() == 0 && !TakeIcmpAway())
            QSKIP("cannot make a network namespace without ICMP sockets");
        if (PingEngine::shared()->icmpAvailable())
            QSKIP("this user may open ICMP sockets: the statuses come from ICMP and nothing is to be said");
    }

    void saidInTheWindowNotInABox()
    {
        MessageBoxAnswers boxes;
        ManagerFixture fixture{QByteArray()}; // an empty list too
        QVERIFY(QTest::qWaitForWindowExposed(fixture.form.get()));
        ManagerFixture::idle();
        QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(QLatin1Char('\n'))));
        QVERIFY(!QApplication::activeModalWidget());

        TProbeNotice *bar = Child<TProbeNotice>(fixture.form);
        QVERIFY(bar->isVisible());
        const QString text = bar->lblNotice->text();
        QCOMPARE(text, PingEngine::shared()->notice());
        QVERIFY2(text.contains(QLatin1String("ping_group_range")) && text.contains(QStringLiteral("TCP")), qPrintable(text));
        // Above the list, inside the manager: it pushes the list down, it covers nothing.
        QVERIFY(bar->geometry().bottom() < ListView(fixture.form.get())->geometry().top());
        QLabel *probe = Child<QLabel>(fixture.form, "stat1Probe");
        QVERIFY(probe->isVisible());
        QCOMPARE(probe->text(), QStringLiteral("状态检测：TCP 端口"));
        QCOMPARE(probe->toolTip(), text);

        // Closed, it stays closed until the next start; the status bar still says it.
        QTest::mouseClick(bar->btnClose, Qt::LeftButton);
        QVERIFY(!bar->isVisible());
        QVERIFY(probe->isVisible());
        QVERIFY(!TProbeNotice::Silenced());
    }

    void nextStartShowsItAgainUntilSilenced()
    {
        MessageBoxAnswers boxes;
        {
            ManagerFixture fixture(SmallCatalogue());
            QVERIFY(QTest::qWaitForWindowExposed(fixture.form.get()));
            QVERIFY(Child<TProbeNotice>(fixture.form)->isVisible());
            QTest::mouseClick(Child<TProbeNotice>(fixture.form)->btnNeverAgain, Qt::LeftButton);
            QVERIFY(!Child<TProbeNotice>(fixture.form)->isVisible());
            QVERIFY(TProbeNotice::Silenced());
        }
        ManagerFixture again(SmallCatalogue());
        QVERIFY(QTest::qWaitForWindowExposed(again.form.get()));
        ManagerFixture::idle();
        QVERIFY(!Child<TProbeNotice>(again.form)->isVisible());
        QVERIFY(Child<QLabel>(again.form, "stat1Probe")->isVisible());
        QVERIFY(boxes.texts.isEmpty());
        TProbeNotice::SetSilenced(false);
    }
};

QTEST_MAIN(TestProbeNotice)
#include "tst_probenotice.moc"
