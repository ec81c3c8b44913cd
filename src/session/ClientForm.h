#pragma once

#include "MsRdpClient5.h"
#include "RdpCommon.h"

#include <QTimer>
#include <QWidget>

// One remote desktop session in a top-level window of its own. It copies the
// server's settings, starts connecting at once and ends itself on a
// disconnection, a fatal error or when no connection came up within 10 s. A
// setting that cannot be used (an address that is none) is told, and the window
// closes without trying anything.
// A closed session window is finished: its connection ends, its worker stops and
// the window deletes itself.
class TfrmClient : public QWidget {
    Q_OBJECT
public:
    // AOwner is the window that keeps the list of open sessions. The session
    // window is a top-level window parented to it and dies with it. Returns
    // hidden; the caller sets the caption and shows it.
    TfrmClient(QWidget *AOwner, const TClientSettings &aSett);
    ~TfrmClient() override;

    // Stops the time-out and closes the window.
    void CloseForm();

    QTimer *tmrTimeOut = nullptr;
    TMsRdpClient5 *msrdpclnt1 = nullptr;
    TClientSettings FClientSettings;
    QWidget *LOwner = nullptr;
    bool LDisconnected = false;
    int FWidth_Old = 0;
    int FHeight_Old = 0;

    // The design's caption and client size.
    static QString DesignCaption();
    static QSize DesignClientSize();
    // How long a connection may take to come up.
    static constexpr int TimeOutMs = 10000;

    // True once the window has been closed and is on its way out.
    bool IsFinished() const { return finished_; }

    void FormClose();
    void msrdpclnt1Connected();
    void msrdpclnt1Disconnected(int discReason);
    void msrdpclnt1FatalError(int errorCode);
    void msrdpclnt1Warning(int warningCode);
    void msrdpclnt1LogonError(int lError);
    void msrdpclnt1UserNameAcquired(const QString &bstrUserName);
    void msrdpclnt1LeaveFullScreenMode();
    void tmrTimeOutTimer();

signals:
    // The window is closing and leaves its owner's list of open sessions. Not
    // emitted when the window is destroyed with its owner.
    void finished(TfrmClient *window);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void CreateParams();
    void SetUp();
    void Finish();
    // The text, then which server and why beneath it. False when the window has
    // gone while the box was open: the caller must not touch it any more.
    bool ShowFailure(const QString &text, const QString &cause);
    // Back to the top-left corner once the window manager has framed the window.
    void PlaceAfterFullScreen();
    QString ServerAddress() const;

    bool finished_ = false;
    // Boxes of this window open now. While one is, the window is not deleted and
    // the time-out waits: both happen once the last box is closed.
    int openBoxes_ = 0;
    bool deletePending_ = false;
    bool timeOutPending_ = false;
    // Places the window after leaving full screen, for a bounded time.
    QTimer *placer_ = nullptr;
    int placerTicks_ = 0;
    int placerSettled_ = 0;
    bool placed_ = false;
};

// Opens a session window for the settings, owned by owner, captioned "<server> - Remote Desktop" and shown. Returns it, for
// the owner to enter it in its list of open sessions.
TfrmClient *OpenClientWindow(QWidget *owner, const TClientSettings &settings);
