#pragma once

#include <QString>
#include <exception>

// An error that carries the text the user is shown. Every failure the program
// reports to its user is one of these; the handlers' guard turns it into a message box.
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
