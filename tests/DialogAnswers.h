#pragma once

// Answers the modal dialogs that open while a command runs and that are no box of
// ShowMessageBox (MessageBoxAnswers answers those): the program's own dialogs, and
// a real message box where a test looks at the box itself. Each dialog, once
// shown, is handed to the next of the answers. A dialog that comes when no answer
// is left is rejected at once and counted, so that the test fails instead of
// hanging. Dialogs that `only` turns down go to the hook set before this one.
// File dialogs are answered ahead through FileDialog::SetNextFileNames.

#include "DialogSeam.h"

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

class DialogAnswers {
public:
    using Answer = std::function<void(QDialog *)>;

    template <typename F>
    requires std::is_invocable_v<F, QDialog *>
    explicit DialogAnswers(F answer) : DialogAnswers(std::vector<Answer>{Answer(std::move(answer))})
    {
    }
    explicit DialogAnswers(std::vector<Answer> answers = {})
        : answers_(std::move(answers)), previous_(DialogSeam::SetHook([this](QDialog *d) { take(d); }))
    {
    }
    ~DialogAnswers() { DialogSeam::SetHook(std::move(previous_)); }
    DialogAnswers(const DialogAnswers &) = delete;
    DialogAnswers &operator=(const DialogAnswers &) = delete;

    // How many dialogs were answered, and how many came with no answer left.
    int answered() const { return int(next_); }
    int unanswered() const { return unanswered_; }

    // Which dialogs to take; the others go to the hook set before. All when empty.
    std::function<bool(QDialog *)> only;

    static bool messageBoxes(QDialog *dialog) { return qobject_cast<QMessageBox *>(dialog) != nullptr; }

    // A real message box: its text goes to `texts` (when given), and `button`
    // is pressed after `delayMs`, the event loop running meanwhile.
    static Answer pressing(QMessageBox::StandardButton button, QStringList *texts = nullptr, int delayMs = 0)
    {
        return [=](QDialog *dialog) {
            auto *box = qobject_cast<QMessageBox *>(dialog);
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

private:
    void take(QDialog *dialog)
    {
        if (only && !only(dialog)) {
            if (previous_)
                previous_(dialog);
            return;
        }
        if (next_ >= answers_.size()) {
            ++unanswered_;
            dialog->reject();
            return;
        }
        // An answer that fails a check may leave its dialog open: it is closed.
        const QPointer<QDialog> open(dialog);
        answers_[next_++](dialog);
        if (open && QTest::currentTestFailed() && open->isVisible())
            open->reject();
    }

    std::vector<Answer> answers_;
    size_t next_ = 0;
    int unanswered_ = 0;
    DialogSeam::Hook previous_;
};
