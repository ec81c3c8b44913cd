#pragma once

#include <QString>
#include <exception>
#include <functional>

// An error that carries the text the user is shown. Every failure the program
// reports to its user is one of these.
class AppError : public std::exception {
public:
    explicit AppError(QString message);
    const QString &message() const noexcept { return message_; }
    const char *what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// A text that should have been a number and was not.
class EConvertError : public AppError {
public:
    using AppError::AppError;
};

// The title of the program's message boxes: the running program's file name
// without folder and extension, its first character as it is, the rest in lower case.
QString AppTitle();

// Where errors that leave an event handler are shown. The windows install a
// message box; until then they go to standard error.
using AppErrorPresenter = std::function<void(const QString &message)>;
void SetAppErrorPresenter(AppErrorPresenter presenter);
void PresentAppError(const QString &message);

// Runs one event handler. An error that leaves it is shown and the program goes
// on; nothing unwinds into the toolkit's own frames.
template <class Handler>
void Guard(Handler &&handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (const AppError &error) {
        PresentAppError(error.message());
    } catch (const std::exception &error) {
        PresentAppError(QString::fromLocal8Bit(error.what()));
    }
}
