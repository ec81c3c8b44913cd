#pragma once

// Answers the modal windows that open while a command runs and that are no box
// of ShowMessageBox (MessageBoxAnswers answers those): file dialogs, input
// dialogs, the program's own dialogs, and a real message box where a test looks
// at the box itself. Each new modal window is handed to the next of the answers.
// A repeating timer looks for them; after `patienceMs` it gives up, and a dialog
// it was still waiting to answer is rejected, so the test fails instead of hanging.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

class ModalAnswer : public QObject {
public:
    using Answer = std::function<void(QWidget *)>;

    template <typename F>
    requires std::is_invocable_v<F, QWidget *>
    explicit ModalAnswer(F answer, int patienceMs = 10000)
        : ModalAnswer(std::vector<Answer>{Answer(std::move(answer))}, patienceMs)
    {
    }
    explicit ModalAnswer(std::vector<Answer> answers, int patienceMs = 10000)
        : fAnswers(std::move(answers)), fPatience(patienceMs)
    {
        fClock.start();
        connect(&fTimer, &QTimer::timeout, this, [this] { tick(); });
        fTimer.start(10);
    }

    // How many windows were answered.
    int answered() const { return int(fNext); }

    // A real message box: its text goes to `texts` (when given), and `button`
    // is pressed after `delayMs`, the event loop running meanwhile.
    static Answer pressing(QMessageBox::StandardButton button, QStringList *texts = nullptr, int delayMs = 0)
    {
        return [=](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box)
                return;
            if (texts)
                *texts << box->text();
            QTimer::singleShot(delayMs, box, [box, button] {
                QAbstractButton *pressed = box->button(button);
                if (!pressed && !box->buttons().isEmpty())
                    pressed = box->buttons().first();
                if (pressed)
                    pressed->click();
            });
        };
    }

    // A modal window that was open before and is not one to answer.
    QPointer<QWidget> fIgnored;
    // Answer real message boxes only, whatever other modal windows come first.
    bool fOnlyMessageBoxes = false;

private:
    void tick()
    {
        if (fNext >= fAnswers.size()) {
            fTimer.stop();
            return;
        }
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == fIgnored || fSeen.contains(modal)
            || (fOnlyMessageBoxes && !qobject_cast<QMessageBox *>(modal)))
            modal = nullptr;
        if (fClock.elapsed() > fPatience) {
            fTimer.stop();
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            return;
        }
        if (!modal)
            return;
        fSeen << modal;
        fAnswers[fNext++](modal);
    }

    std::vector<Answer> fAnswers;
    size_t fNext = 0;
    int fPatience;
    QList<QPointer<QWidget>> fSeen;
    QElapsedTimer fClock;
    QTimer fTimer;
};
