// The ways a test takes the user's part in modal windows: file dialogs answered
// ahead, and the program's dialogs handed to a hook once they are shown.
#include "AppError.h"
#include "DialogSeam.h"
#include "FileDialog.h"
#include "MsgBox.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

// Sets a hook for as long as it lives, and puts back the one before.
class HookFor {
public:
    explicit HookFor(DialogSeam::Hook hook) : previous_(DialogSeam::SetHook(std::move(hook))) {}
    ~HookFor() { DialogSeam::SetHook(std::move(previous_)); }
    HookFor(const HookFor &) = delete;
    HookFor &operator=(const HookFor &) = delete;

private:
    DialogSeam::Hook previous_;
};

} // namespace

class TestModalSeams : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { FileDialog::ClearAnswers(); }

    // Answers are taken in the order given, whatever the kind of dialog; a dialog
    // for one name takes the first, and no names is a cancelled dialog.
    void fileDialogsTakeTheAnswersInTurn()
    {
        FileDialog::SetNextFileNames({QStringLiteral("/tmp/a.rdp"), QStringLiteral("/tmp/b.rdp")});
        FileDialog::SetNextFileNames({QStringLiteral("/tmp/first.ini"), QStringLiteral("/tmp/second.ini")});
        FileDialog::SetNextFileName(QString());
        FileDialog::SetNextFileName(QStringLiteral("/tmp/out"));
        QCOMPARE(FileDialog::PendingAnswers(), 4);

        QCOMPARE(FileDialog::GetOpenFileNames(nullptr, QStringLiteral("导入"), QStringLiteral("/tmp"), QStringLiteral("*.rdp")),
                 (QStringList{QStringLiteral("/tmp/a.rdp"), QStringLiteral("/tmp/b.rdp")}));
        QCOMPARE(FileDialog::GetOpenFileName(nullptr, QStringLiteral("打开")), QStringLiteral("/tmp/first.ini"));
        QCOMPARE(FileDialog::GetSaveFileName(nullptr, QStringLiteral("保存"), QStringLiteral("SvrList.ini")), QString());
        QCOMPARE(FileDialog::GetExistingDirectory(nullptr, QStringLiteral("文件夹")), QStringLiteral("/tmp/out"));
        QCOMPARE(FileDialog::PendingAnswers(), 0);

        const QList<FileDialog::Request> asked = FileDialog::TakeAnsweredRequests();
        QCOMPARE(asked.size(), 4);
        QCOMPARE(asked[0].kind, FileDialog::Kind::OpenFiles);
        QCOMPARE(asked[0].caption, QStringLiteral("导入"));
        QCOMPARE(asked[0].start, QStringLiteral("/tmp"));
        QCOMPARE(asked[0].filter, QStringLiteral("*.rdp"));
        QCOMPARE(asked[1].kind, FileDialog::Kind::OpenFile);
        QCOMPARE(asked[2].kind, FileDialog::Kind::SaveFile);
        QCOMPARE(asked[2].start, QStringLiteral("SvrList.ini"));
        QCOMPARE(asked[3].kind, FileDialog::Kind::Folder);
        QVERIFY(FileDialog::TakeAnsweredRequests().isEmpty());
    }

    // The hook is called inside the dialog's loop, with the dialog on screen, and
    // what it does is the dialog's result.
    void hookAnswersTheShownDialog_data()
    {
        QTest::addColumn<int>("result");
        QTest::newRow("accepted") << int(QDialog::Accepted);
        QTest::newRow("rejected") << int(QDialog::Rejected);
        QTest::newRow("own code") << 7;
    }

    void hookAnswersTheShownDialog()
    {
        QFETCH(int, result);
        int calls = 0;
        bool shownWhenCalled = false;
        bool modalWhenCalled = false;
        HookFor hook([&](QDialog *dialog) {
            ++calls;
            shownWhenCalled = dialog->isVisible();
            modalWhenCalled = QApplication::activeModalWidget() == dialog;
            dialog->done(result);
        });
        QDialog dialog;
        QCOMPARE(DialogSeam::Exec(dialog), result);
        QCOMPARE(calls, 1);
        QVERIFY(shownWhenCalled);
        QVERIFY(modalWhenCalled);
    }

    // Hooks nest: the one set last is called, and setting the one before back
    // makes it the one called again.
    void hooksNest()
    {
        QStringList calls;
        HookFor outer([&](QDialog *dialog) {
            calls << QStringLiteral("outer");
            dialog->reject();
        });
        {
            HookFor inner([&](QDialog *dialog) {
                calls << QStringLiteral("inner");
                dialog->reject();
            });
            QDialog dialog;
            DialogSeam::Exec(dialog);
        }
        QDialog dialog;
        DialogSeam::Exec(dialog);
        QCOMPARE(calls, (QStringList{QStringLiteral("inner"), QStringLiteral("outer")}));
    }

    // A dialog that is gone before its wait runs is not handed on.
    void goneDialogIsNotHandedOn()
    {
        int calls = 0;
        HookFor hook([&](QDialog *) { ++calls; });
        auto dialog = std::make_unique<QDialog>();
        DialogSeam::Announce(dialog.get());
        dialog.reset();
        QTest::qWait(20);
        QCOMPARE(calls, 0);
    }

    // A message box that is shown for real (no answerer set) runs through the
    // seam: the hook sees the box the user would, and its button is the answer.
    void realMessageBoxGoesThroughTheSeam()
    {
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        HookFor hook([&](QDialog *dialog) {
            auto *box = qobject_cast<QMessageBox *>(dialog);
            QVERIFY(box);
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            box->button(QMessageBox::No)->click();
        });
        const auto answer = ShowMessageBox(nullptr, QStringLiteral("删除吗？"), QMessageBox::Question,
                                           QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(answer, QMessageBox::No);
        QCOMPARE(text, QStringLiteral("删除吗？"));
        QCOMPARE(title, AppTitle());
        QCOMPARE(icon, QMessageBox::Question);
    }
};

QTEST_MAIN(TestModalSeams)
#include "tst_modalseams.moc"
