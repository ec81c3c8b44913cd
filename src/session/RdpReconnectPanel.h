#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// Laid over a remote desktop's last picture while its session reconnects: the
// picture dimmed, which try this is, and a button to give up. It covers its
// parent whole and follows its size; clicks on it do not reach the session.
class RdpReconnectPanel : public QWidget {
    Q_OBJECT
public:
    explicit RdpReconnectPanel(QWidget *parent);

    // Shows the panel for attempt k of n.
    void ShowAttempt(int attempt, int tries);
    QString Text() const;

signals:
    void GiveUp();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *label_ = nullptr;
    QPushButton *giveUp_ = nullptr;
};
