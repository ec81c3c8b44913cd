#pragma once

// Answers the modal message boxes that the code under test shows, and keeps
// their texts. A question (Yes/No) gets the answer set beforehand; a plain box is
// confirmed with OK.

#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <functional>

class MessageBoxWatcher : public QObject {
public:
    MessageBoxWatcher()
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Answer(); });
        timer_.start();
    }

    // Plain boxes (one OK button).
    QStringList texts;
    QList<QMessageBox::Icon> icons;
    // Questions (Yes and No).
    QStringList questions;
    QList<QMessageBox::Icon> questionIcons;
    QMessageBox::StandardButton questionAnswer = QMessageBox::Yes;
    // How long a question stays open before it is answered.
    int questionDelayMs = 0;
    // How long a plain box stays open before it is confirmed.
    int plainDelayMs = 0;
    // Called once for each box as it is first seen open. It runs inside the
    // watcher's own timer: anything that may open a box must be queued.
    std::function<void(QMessageBox *)> onShown;

    void Clear()
    {
        texts.clear();
        icons.clear();
        questions.clear();
        questionIcons.clear();
    }

private:
    void Answer()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible() || box->property("answered").toBool())
                continue;
            if (!box->property("seen").isValid()) {
                box->setProperty("seen", QDateTime::currentMSecsSinceEpoch());
                if (onShown)
                    onShown(box);
            }
            const int delayMs = box->button(QMessageBox::Yes) ? questionDelayMs : plainDelayMs;
            if (QDateTime::currentMSecsSinceEpoch() - box->property("seen").toLongLong() < delayMs)
                continue;
            box->setProperty("answered", true);
            if (box->button(QMessageBox::Yes)) {
                questions << box->text();
                questionIcons << box->icon();
            } else {
                texts << box->text();
                icons << box->icon();
            }
            QAbstractButton *button = box->button(questionAnswer);
            if (!button)
                button = box->button(QMessageBox::Ok);
            if (!button && !box->buttons().isEmpty())
                button = box->buttons().first();
            if (button)
                QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        }
    }

    QTimer timer_;
};
