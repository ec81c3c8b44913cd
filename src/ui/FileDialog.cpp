#include "FileDialog.h"

#include <QFileDialog>

#include <optional>
#include <utility>

namespace {

struct Answers {
    QList<QStringList> next;
    QList<FileDialog::Request> answered;
};

Answers &Pending()
{
    static Answers answers;
    return answers;
}

// The answer given ahead, if any; the request is kept for the test to look at.
std::optional<QStringList> TakeAnswer(FileDialog::Kind kind, const QString &caption, const QString &start,
                                      const QString &filter)
{
    Answers &answers = Pending();
    if (answers.next.isEmpty())
        return std::nullopt;
    answers.answered.append({kind, caption, start, filter});
    return answers.next.takeFirst();
}

QString FirstOf(const QStringList &names)
{
    return names.isEmpty() ? QString() : names.first();
}

} // namespace

QString FileDialog::GetOpenFileName(QWidget *parent, const QString &caption, const QString &start,
                                    const QString &filter)
{
    if (const auto answer = TakeAnswer(Kind::OpenFile, caption, start, filter))
        return FirstOf(*answer);
    return QFileDialog::getOpenFileName(parent, caption, start, filter);
}

QStringList FileDialog::GetOpenFileNames(QWidget *parent, const QString &caption, const QString &start,
                                         const QString &filter)
{
    if (const auto answer = TakeAnswer(Kind::OpenFiles, caption, start, filter))
        return *answer;
    return QFileDialog::getOpenFileNames(parent, caption, start, filter);
}

QString FileDialog::GetSaveFileName(QWidget *parent, const QString &caption, const QString &start,
                                    const QString &filter)
{
    if (const auto answer = TakeAnswer(Kind::SaveFile, caption, start, filter))
        return FirstOf(*answer);
    return QFileDialog::getSaveFileName(parent, caption, start, filter);
}

QString FileDialog::GetExistingDirectory(QWidget *parent, const QString &caption, const QString &start)
{
    if (const auto answer = TakeAnswer(Kind::Folder, caption, start, {}))
        return FirstOf(*answer);
    return QFileDialog::getExistingDirectory(parent, caption, start);
}

void FileDialog::SetNextFileNames(const QStringList &names)
{
    Pending().next.push_back(names);
}

void FileDialog::SetNextFileName(const QString &name)
{
    SetNextFileNames(name.isEmpty() ? QStringList() : QStringList{name});
}

QList<FileDialog::Request> FileDialog::TakeAnsweredRequests()
{
    return std::exchange(Pending().answered, {});
}

int FileDialog::PendingAnswers()
{
    return int(Pending().next.size());
}

void FileDialog::ClearAnswers()
{
    Pending() = {};
}
