#pragma once

#include <QLabel>
#include <QTimer>

// The short hint over a session that has just gone full screen: how to leave it.
// It shows at the top of its parent, centred, and goes by itself after a few
// seconds or at once when full screen ends.
class TFullScreenHint : public QLabel {
    Q_OBJECT
public:
    explicit TFullScreenHint(QWidget *parent);

    static constexpr int ShownMs = 4000;

    void Popup();
    void Dismiss();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Place();

    QTimer hide_;
};
