#pragma once

// Answers the message boxes that the code under test shows, in place of the
// user, and keeps what each showed. While one lives no message box opens:
// ShowMessageBox hands the box to it. A test that looks at a real box itself
// (its parent, that it closes with its window) drives it with DialogAnswers.

#include "MsgBox.h"

#include <QEventLoop>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

class MessageBoxAnswers {
public:
    struct Box {
        QPointer<QWidget> parent;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
    };

    explicit MessageBoxAnswers(QMessageBox::StandardButton answerWith = QMessageBox::Ok)
        : answer(answerWith),
          previous_(SetMessageBoxAnswerer([this](const MessageBoxContent &content) { return Answer(content); }))
    {
    }
    ~MessageBoxAnswers() { SetMessageBoxAnswerer(std::move(previous_)); }
    MessageBoxAnswers(const MessageBoxAnswers &) = delete;
    MessageBoxAnswers &operator=(const MessageBoxAnswers &) = delete;

    // The button pressed: this one where the box offers it, else OK, else the
    // first the box offers.
    QMessageBox::StandardButton answer;
    // How long each box stays open before it is answered. Events are handled
    // meanwhile, as under an open modal box.
    int delayMs = 0;
    // Called as each box opens, before it is answered.
    std::function<void(const Box &)> onShown;

    // Every box, in the order they opened.
    QList<Box> boxes;
    // The texts of the boxes that ask (they offer Yes), and of all others.
    QStringList questions;
    QList<QMessageBox::Icon> questionIcons;
    QStringList texts;

    void Clear()
    {
        boxes.clear();
        questions.clear();
        questionIcons.clear();
        texts.clear();
    }

private:
    QMessageBox::StandardButton Answer(const MessageBoxContent &content)
    {
        const Box box{content.parent, content.icon, content.title, content.text, content.buttons};
        boxes << box;
        if (content.buttons.testFlag(QMessageBox::Yes)) {
            questions << content.text;
            questionIcons << content.icon;
        } else {
            texts << content.text;
        }
        if (onShown)
            onShown(box);
        if (delayMs > 0) {
            QEventLoop open;
            QTimer::singleShot(delayMs, &open, &QEventLoop::quit);
            open.exec();
        }
        return Pressed(content.buttons);
    }

    QMessageBox::StandardButton Pressed(QMessageBox::StandardButtons offered) const
    {
        if (offered.testFlag(answer))
            return answer;
        if (offered == QMessageBox::NoButton || offered.testFlag(QMessageBox::Ok))
            return QMessageBox::Ok; // a box given no buttons shows OK
        for (int button = QMessageBox::FirstButton; button <= QMessageBox::LastButton; button <<= 1)
            if (offered.testFlag(QMessageBox::StandardButton(button)))
                return QMessageBox::StandardButton(button);
        return QMessageBox::Ok;
    }

    MessageBoxAnswerer previous_;
};
