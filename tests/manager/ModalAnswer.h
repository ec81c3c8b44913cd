#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>

// Answers the next modal window that opens while a command runs: a repeating
// timer looks for it and hands it to `answer`. Gives up after `patienceMs`.
class ModalAnswer : public QObject {
public:
    explicit ModalAnswer(std::function<void(QWidget *)> answer, int patienceMs = 5000)
        : fAnswer(std::move(answer)), fPatience(patienceMs)
    {
        fClock.start();
        connect(&fTimer, &QTimer::timeout, this, [this] { tick(); });
        fTimer.start(10);
    }

    bool answered() const { return fAnswered; }

    // A message box answered with `button`; what it showed is kept.
    static std::function<void(QWidget *)> pressing(QMessageBox::StandardButton button, QString *text,
                                                   QMessageBox::Icon *icon = nullptr, QString *title = nullptr)
    {
        return [=](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box)
                return;
            if (text)
                *text = box->text();
            if (icon)
                *icon = box->icon();
            if (title)
                *title = box->windowTitle();
            box->done(button);
        };
    }

private:
    void tick()
    {
        if (fAnswered || fClock.elapsed() > fPatience) {
            fTimer.stop();
            return;
        }
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == fIgnored || (fOnlyMessageBoxes && !qobject_cast<QMessageBox *>(modal)))
            return;
        fAnswered = true;
        fTimer.stop();
        fAnswer(modal);
    }

public:
    // A modal window that was open before and is not the one to answer.
    QPointer<QWidget> fIgnored;
    // Answer a message box only, whatever other modal windows come first.
    bool fOnlyMessageBoxes = false;

private:
    std::function<void(QWidget *)> fAnswer;
    int fPatience;
    bool fAnswered = false;
    QElapsedTimer fClock;
    QTimer fTimer;
};
