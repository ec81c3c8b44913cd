#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

// Answers the message boxes that open while it is armed, and records what each showed.
class ModalDriver : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QStringList buttonTexts;
    };

    explicit ModalDriver(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer_(answer)
    {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
        timer_.start();
    }

    const QList<Seen> &seen() const { return seen_; }

private:
    void tick()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == last_)
            return;
        last_ = box;
        QStringList texts;
        for (QAbstractButton *shown : box->buttons())
            texts << shown->text();
        seen_.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(), texts});
        QAbstractButton *button = box->button(answer_);
        if (!button)
            button = box->buttons().value(0);
        if (button)
            button->click();
    }

    QMessageBox::StandardButton answer_;
    QTimer timer_;
    QList<Seen> seen_;
    QPointer<QMessageBox> last_;
};
