#pragma once

#include <QFrame>

class QLabel;
class QToolButton;

// The information bar above the server list that says why the servers' status is
// probed over TCP instead of ICMP, and how an administrator allows ICMP. It never
// interrupts: the user closes it for this time with its close button, or for good
// with "不再显示"; the status bar keeps the short word and the whole text in its tip.
class TProbeNotice : public QFrame {
    Q_OBJECT
public:
    explicit TProbeNotice(QWidget *parent);

    QLabel *lblNotice;
    QToolButton *btnNeverAgain;
    QToolButton *btnClose;

    // Shows the text unless the user has asked never to see it again.
    void ShowNotice(const QString &text);
    static bool Silenced();
    static void SetSilenced(bool silenced);

private:
    void btnNeverAgainClick();
};
