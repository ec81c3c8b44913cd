// Which ends of a session are bridged by reconnecting, when a failed attempt
// leaves room for another, and when the tries run.

#include "RdpReconnectPolicy.h"

#include <QTest>

#include <freerdp/error.h>

namespace {

// The ways a session or an attempt ends, as the worker sees them.
struct Case {
    uint32_t errorInfo = 0;
    uint32_t clientError = 0;
    bool wasConnected = true;
    bool certificateRefused = false;
    RdpConnectFailure connect = RdpConnectFailure::None;
    RdpLinkEnd link = RdpLinkEnd::Open;
    const char *state = "";
};

RdpEndFacts Facts(const Case &c)
{
    RdpEndFacts f;
    f.ErrorInfo = c.errorInfo;
    f.ClientError = c.clientError;
    f.WasConnected = c.wasConnected;
    f.CertificateRefused = c.certificateRefused;
    f.Connect = c.connect;
    f.Link = c.link;
    f.State = QString::fromLatin1(c.state);
    return f;
}

constexpr uint32_t TransportFailed = FREERDP_ERROR_CONNECT_TRANSPORT_FAILED;

} // namespace

Q_DECLARE_METATYPE(RdpEndFacts)

class TestSessionReconnectPolicy : public QObject {
    Q_OBJECT

private slots:
    // A session that was up and ended.
    void lossOfASessionThatWasUp_data()
    {
        QTest::addColumn<RdpEndFacts>("facts");
        QTest::addColumn<bool>("reconnects");
        // The server's host stopped answering: the network.
        QTest::newRow("host silent") << Facts({0, TransportFailed, true, false, {}, RdpLinkEnd::Lost}) << true;
        QTest::newRow("host silent, no library error") << Facts({0, 0, true, false, {}, RdpLinkEnd::Lost}) << true;
        // The server ended it, and said why.
        QTest::newRow("logoff by the user") << Facts({ERRINFO_LOGOFF_BY_USER, TransportFailed, true, false, {}, RdpLinkEnd::Lost}) << false;
        QTest::newRow("logoff by an administrator") << Facts({ERRINFO_RPC_INITIATED_LOGOFF, 0, true, false, {}, RdpLinkEnd::Closed}) << false;
        QTest::newRow("disconnected by an administrator") << Facts({ERRINFO_RPC_INITIATED_DISCONNECT, 0, true}) << false;
        QTest::newRow("idle time-out") << Facts({ERRINFO_IDLE_TIMEOUT, 0, true, false, {}, RdpLinkEnd::Closed}) << false;
        QTest::newRow("replaced by another connection") << Facts({ERRINFO_DISCONNECTED_BY_OTHER_CONNECTION, 0, true}) << false;
        QTest::newRow("denied") << Facts({ERRINFO_SERVER_DENIED_CONNECTION, 0, true}) << false;
        // The server's host ended the connection without a word: it is there, and chose to.
        QTest::newRow("closed by the host") << Facts({0, TransportFailed, true, false, {}, RdpLinkEnd::Closed}) << false;
        QTest::newRow("reset by the host") << Facts({0, TransportFailed, true, false, {}, RdpLinkEnd::Reset}) << false;
        // The library gave up on what it got, the connection still open.
        QTest::newRow("library failure") << Facts({0, 0, true, false, {}, RdpLinkEnd::Open}) << false;
        // Never up: a first connection that fails is no loss.
        QTest::newRow("never connected") << Facts({0, TransportFailed, false, false, RdpConnectFailure::Failed, RdpLinkEnd::Lost}) << false;
        QTest::newRow("certificate refused") << Facts({0, 0, true, true, {}, RdpLinkEnd::Lost}) << false;
    }

    void lossOfASessionThatWasUp()
    {
        QFETCH(RdpEndFacts, facts);
        QFETCH(bool, reconnects);
        QCOMPARE(RdpLossIsTransient(facts), reconnects);
    }

    // A reconnect attempt that failed.
    void failedAttempt_data()
    {
        QTest::addColumn<RdpEndFacts>("facts");
        QTest::addColumn<bool>("retries");
        // Still no way to the server.
        QTest::newRow("no answer") << Facts({0, TransportFailed, false, false, RdpConnectFailure::Failed}) << true;
        QTest::newRow("unreachable") << Facts({0, TransportFailed, false, false, RdpConnectFailure::Unreachable}) << true;
        QTest::newRow("refused while it restarts") << Facts({0, TransportFailed, false, false, RdpConnectFailure::Refused}) << true;
        QTest::newRow("name not found") << Facts({0, FREERDP_ERROR_DNS_NAME_NOT_FOUND, false, false, RdpConnectFailure::NameNotFound}) << true;
        QTest::newRow("lost in the handshake") << Facts({0, TransportFailed, false, false, {}, RdpLinkEnd::Lost}) << true;
        QTest::newRow("TLS broke off") << Facts({0, FREERDP_ERROR_TLS_CONNECT_FAILED, false, false, {}, RdpLinkEnd::Closed}) << true;
        // The server answered, and said no.
        QTest::newRow("error info") << Facts({ERRINFO_SERVER_DENIED_CONNECTION, 0, false}) << false;
        QTest::newRow("logged off meanwhile") << Facts({ERRINFO_LOGOFF_BY_USER, TransportFailed, false, false, {}, RdpLinkEnd::Closed}) << false;
        QTest::newRow("wrong password") << Facts({0, FREERDP_ERROR_AUTHENTICATION_FAILED, false}) << false;
        QTest::newRow("logon failure") << Facts({0, FREERDP_ERROR_CONNECT_LOGON_FAILURE, false}) << false;
        QTest::newRow("account locked") << Facts({0, FREERDP_ERROR_CONNECT_ACCOUNT_LOCKED_OUT, false}) << false;
        QTest::newRow("password expired") << Facts({0, FREERDP_ERROR_CONNECT_PASSWORD_EXPIRED, false}) << false;
        QTest::newRow("credentials refused in NLA")
            << Facts({0, TransportFailed, false, false, {}, RdpLinkEnd::Closed, "CONNECTION_STATE_NLA"}) << false;
        QTest::newRow("certificate refused") << Facts({0, 0, false, true}) << false;
        QTest::newRow("cancelled") << Facts({0, FREERDP_ERROR_CONNECT_CANCELLED, false}) << false;
    }

    void failedAttempt()
    {
        QFETCH(RdpEndFacts, facts);
        QFETCH(bool, retries);
        QCOMPARE(RdpAttemptMayRetry(facts), retries);
    }

    // The tries are spread evenly over the whole time; each may take the time
    // up to the next, the last one the rest.
    void schedule_data()
    {
        QTest::addColumn<int>("tries");
        QTest::addColumn<int>("totalMs");
        QTest::addColumn<QList<int>>("starts");
        QTest::addColumn<QList<int>>("limits");
        const RdpReconnectTiming standard;
        QTest::newRow("standard: five tries over thirty seconds")
            << standard.Tries << standard.TotalMs << QList<int>{0, 6000, 12000, 18000, 24000}
            << QList<int>{6000, 6000, 6000, 6000, 6000};
        QTest::newRow("uneven") << 3 << 1000 << QList<int>{0, 333, 666} << QList<int>{333, 333, 334};
        QTest::newRow("one try") << 1 << 5000 << QList<int>{0} << QList<int>{5000};
    }

    void schedule()
    {
        QFETCH(int, tries);
        QFETCH(int, totalMs);
        QFETCH(QList<int>, starts);
        QFETCH(QList<int>, limits);
        RdpReconnectTiming timing;
        timing.Tries = tries;
        timing.TotalMs = totalMs;
        for (int k = 1; k <= tries; ++k) {
            const RdpAttemptSlot slot = RdpReconnectSlot(timing, k);
            QCOMPARE(slot.StartMs, starts[k - 1]);
            QCOMPARE(slot.LimitMs, limits[k - 1]);
        }
    }

    void progressText()
    {
        QCOMPARE(RdpReconnectingText(2, 5), QStringLiteral("正在重新连接(第 2 次,共 5 次)…"));
    }

    // A loss is told as one, whatever the library made of it.
    void lossIsToldAsSuch()
    {
        const QString cause = RdpEndCause(Facts({0, TransportFailed, true, false, {}, RdpLinkEnd::Lost}));
        QVERIFY2(cause.contains(QStringLiteral("网络连接中断")), qPrintable(cause));
        // What the server said still comes first.
        QVERIFY(!RdpEndCause(Facts({ERRINFO_LOGOFF_BY_USER, 0, true, false, {}, RdpLinkEnd::Lost})).contains(QStringLiteral("网络")));
    }
};

QTEST_APPLESS_MAIN(TestSessionReconnectPolicy)

#include "tst_sessionreconnectpolicy.moc"
