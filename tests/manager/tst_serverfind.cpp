// The find box, quick connect, and import and export in the manager window.
#include "ClientForm.h"
#include "ImportGroupForm.h"
#include "ManagerFixture.h"
#include "MessageBoxAnswers.h"
#include "DialogAnswers.h"
#include "FileDialog.h"
#include "MsgBox.h"
#include "QuickConnectForm.h"
#include "RdpFile.h"
#include "ServerFind.h"
#include "ServerImport.h"
#include "ServerTransfer.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTcpServer>

namespace {

using Rows = QStringList;

// The rows that show, as ManagerFixture::rows writes them.
Rows shownRows(const ManagerFixture &f)
{
    Rows all = f.rows();
    Rows out;
    for (int i = 0; i < all.size(); ++i)
        if (f.view()->ShownIndex(f.list()->RowObject(i)).isValid())
            out << all[i];
    return out;
}

// Types the text key by key, letters of any script included.
void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

QString dataFile(const QString &name)
{
    return QDir(QStringLiteral(BRENNIC_FORMATS_DATA)).filePath(name);
}

DialogAnswers::Answer answerQuickConnect(const QString &user, const QString &password, bool add, QString *shown)
{
    return [=](QDialog *w) {
        auto *dialog = qobject_cast<TfrmQuickConnect *>(w);
        QVERIFY(dialog);
        *shown = dialog->lblServer->text();
        dialog->edtUser->setText(user);
        dialog->edtPwd->setText(password);
        dialog->chkAdd->setChecked(add);
        dialog->btnBox->button(QDialogButtonBox::Ok)->click();
    };
}

DialogAnswers::Answer importInto(const QString &group, QString *offered, QString *found)
{
    return [=](QDialog *w) {
        auto *dialog = qobject_cast<TfrmImportGroup *>(w);
        QVERIFY(dialog);
        *offered = dialog->cbbTarget->currentText();
        *found = dialog->lblFound->text();
        dialog->cbbTarget->setCurrentText(group);
        dialog->chkKeepGroups->setChecked(false); // all into the group chosen
        dialog->btnBox->button(QDialogButtonBox::Ok)->click();
    };
}

QMimeData *fileDrag(const QStringList &paths)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    data->setUrls(urls);
    return data;
}

bool dragAccepted(QWidget *viewport, const QMimeData *data, const QPoint &at)
{
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    return move.isAccepted();
}

} // namespace

class TestServerFind : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InstallErrorMessageBoxes(); }

    void filtersAsOneTypes_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<Rows>("shown");
        QTest::newRow("user and group") << QStringLiteral("web") << Rows{QStringLiteral("-Web"), QStringLiteral("  127.0.0.1|web1|first"), QStringLiteral("  127.0.0.2|web2|second")};
        QTest::newRow("group, other case") << QStringLiteral("db") << Rows{QStringLiteral("-DB"), QStringLiteral("  127.0.0.3|db|")};
        QTest::newRow("full width") << QStringLiteral("ＳＥＣＯＮＤ") << Rows{QStringLiteral("-Web"), QStringLiteral("  127.0.0.2|web2|second")};
        QTest::newRow("address") << QStringLiteral("127.0.0.4") << Rows{QStringLiteral("-未分组"), QStringLiteral("  127.0.0.4||")};
        QTest::newRow("pinyin initials of a group") << QStringLiteral("wfz") << Rows{QStringLiteral("-未分组"), QStringLiteral("  127.0.0.4||")};
        QTest::newRow("no match") << "no where" << Rows{};
    }

    void filtersAsOneTypes()
    {
        QFETCH(QString, typed);
        QFETCH(Rows, shown);
        ManagerFixture f(SmallCatalogue());
        // Ctrl+F from the list puts the cursor into the box.
        f.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
        f.view()->setFocus();
        QTest::keyClick(f.view(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(Child<TServerFind>(f.form)->edtFind->hasFocus());
        typeText(Child<TServerFind>(f.form)->edtFind, typed);
        QCOMPARE(shownRows(f), shown);
        QVERIFY(!Child<TServerFind>(f.form)->btnQuickConnect->isVisible());
        // Esc empties the box and every row shows again.
        QTest::keyClick(Child<TServerFind>(f.form)->edtFind, Qt::Key_Escape);
        QCOMPARE(Child<TServerFind>(f.form)->edtFind->text(), QString());
        QCOMPARE(shownRows(f), SmallCatalogueRows());
    }

    // Rows that come while a filter is on are filtered as well.
    void filtersNewRows()
    {
        ManagerFixture f(SmallCatalogue());
        QTest::keyClicks(Child<TServerFind>(f.form)->edtFind, QStringLiteral("web"));
        TClientSettings other;
        other.Server = QStringLiteral("127.0.0.9");
        AddServerRow(f.list(), AddSvrItem(other, UngroupedId, QStringLiteral("mail")));
        TClientSettings matching;
        matching.Server = QStringLiteral("127.0.0.10");
        AddServerRow(f.list(), AddSvrItem(matching, UngroupedId, QStringLiteral("webmail")));
        QTRY_COMPARE(shownRows(f), (Rows{
                                       QStringLiteral("-Web"),
                                       QStringLiteral("  127.0.0.1|web1|first"),
                                       QStringLiteral("  127.0.0.2|web2|second"),
                                       QStringLiteral("-未分组"),
                                       QStringLiteral("  127.0.0.10||webmail"),
                                   }));
    }

    // Enter connects to the first match, opening a collapsed group for it if need be.
    void enterConnectsToFirstMatch()
    {
        QTcpServer silent; // accepts and stays silent: the session stays connecting
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        ManagerFixture f(SmallCatalogue());
        GetSvrItem(2)->ClntSett.Port = silent.serverPort();
        FindGroupRow(f.list(), 1)->Collapse();
        QTest::keyClicks(Child<TServerFind>(f.form)->edtFind, QStringLiteral("second"));
        QCOMPARE(shownRows(f), Rows{QStringLiteral("+Web")});
        QTest::keyClick(Child<TServerFind>(f.form)->edtFind, Qt::Key_Return);
        QCOMPARE(shownRows(f), (Rows{QStringLiteral("-Web"), QStringLiteral("  127.0.0.2|web2|second")}));
        QCOMPARE(f.view()->Selected(), f.row(QStringLiteral("127.0.0.2")).object);
        QCOMPARE(f.form->OpenClients().size(), 1);
        QCOMPARE(f.form->OpenClients().first()->windowTitle(), QStringLiteral("127.0.0.2 - Remote Desktop"));
    }

    // A match without a password is refused as the connect command refuses it.
    void enterChecksLikeConnect()
    {
        ManagerFixture f(SmallCatalogue());
        QTest::keyClicks(Child<TServerFind>(f.form)->edtFind, QStringLiteral("127.0.0.4"));
        {
            MessageBoxAnswers boxes;
            QTest::keyClick(Child<TServerFind>(f.form)->edtFind, Qt::Key_Return);
            QCOMPARE(boxes.texts, QStringList{QStringLiteral("请输入用户名")});
        }
        QCOMPARE(f.form->OpenClients().size(), 0);
    }

    // An address that no server matches: a row offers to connect; Enter asks for
    // the user and password and opens the session; nothing is stored unless asked.
    void quickConnect_data()
    {
        QTest::addColumn<bool>("add");
        QTest::newRow("nothing stored") << false;
        QTest::newRow("added to the list") << true;
    }

    void quickConnect()
    {
        QFETCH(bool, add);
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        ManagerFixture f(SmallCatalogue());
        const QByteArray fileBefore = f.fileText();
        const QString typed = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        typeText(Child<TServerFind>(f.form)->edtFind, typed);
        QCOMPARE(shownRows(f), Rows{});
        QVERIFY(Child<TServerFind>(f.form)->btnQuickConnect->isVisible());
        QCOMPARE(Child<TServerFind>(f.form)->btnQuickConnect->text(), QStringLiteral("快速连接 %1 … (Enter)").arg(typed));

        QString shown;
        {
            DialogAnswers answers(answerQuickConnect(QStringLiteral("admin"), QStringLiteral("pw"), add, &shown));
            QTest::keyClick(Child<TServerFind>(f.form)->edtFind, Qt::Key_Return);
            QCOMPARE(answers.answered(), 1);
        }
        QCOMPARE(shown, typed);
        QCOMPARE(f.form->OpenClients().size(), 1);
        QCOMPARE(f.form->OpenClients().first()->windowTitle(), QStringLiteral("127.0.0.1 - Remote Desktop"));
        if (!add) {
            QCOMPARE(GetSvrList().Count(), 4);
            QCOMPARE(f.fileText(), fileBefore);
            return;
        }
        QCOMPARE(GetSvrList().Count(), 5);
        const PSvrItem stored = GetSvrList().Items(4);
        QCOMPARE(stored->ClntSett.Server, QStringLiteral("127.0.0.1"));
        QCOMPARE(stored->ClntSett.Port, int(silent.serverPort()));
        QCOMPARE(stored->ClntSett.User, QStringLiteral("admin"));
        QCOMPARE(stored->ClntSett.Password, QStringLiteral("pw"));
        QVERIFY(f.fileText().contains(QStringLiteral("Port=%1").arg(silent.serverPort()).toUtf8()));
        // The new row is filtered with the rest: it matches what is typed.
        QTRY_COMPARE(shownRows(f), (Rows{QStringLiteral("-未分组"), QStringLiteral("  127.0.0.1|admin|")}));
    }

    // Text that is no address offers nothing, and Enter does nothing.
    void noQuickConnectForText()
    {
        ManagerFixture f(SmallCatalogue());
        QTest::keyClicks(Child<TServerFind>(f.form)->edtFind, QStringLiteral("no such server"));
        QVERIFY(!Child<TServerFind>(f.form)->btnQuickConnect->isVisible());
        QTest::keyClick(Child<TServerFind>(f.form)->edtFind, Qt::Key_Return);
        QCOMPARE(f.form->OpenClients().size(), 0);
    }

    // Files dropped on a group's row are imported into the group chosen, that group
    // offered first; a summary says what came in and what did not.
    void dropImportsFiles()
    {
        ManagerFixture f(SmallCatalogue());
        const std::unique_ptr<QMimeData> data(fileDrag({
            dataFile(QStringLiteral("Web server.rdp")),
            dataFile(QStringLiteral("ssh.remmina")),
            dataFile(QStringLiteral("web.remmina")),
            dataFile(QStringLiteral("truncated.rdg")),
        }));
        QWidget *viewport = f.view()->viewport();
        const QPoint onDb = f.view()->RowRect(f.row(QStringLiteral("DB")).object).center();
        QVERIFY(dragAccepted(viewport, data.get(), onDb));

        QString offered, found;
        MessageBoxAnswers boxes;
        DialogAnswers answers(importInto(QStringLiteral("DB"), &offered, &found));
        QDropEvent drop(onDb, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(boxes.texts.size(), 1);
        QCOMPARE(answers.answered(), 1);
        const QString summary = boxes.texts[0];
        QCOMPARE(offered, QStringLiteral("DB"));
        QCOMPARE(found, QStringLiteral("在 4 个文件中找到 2 台可导入的服务器。"));
        QVERIFY2(summary.startsWith(QStringLiteral("已导入 2 台服务器到组“DB”。")), qPrintable(summary));
        QVERIFY(summary.contains(QStringLiteral("Jump host：协议 SSH 不是 RDP")));
        QVERIFY(summary.contains(QStringLiteral("Web server：密码已加密，无法读取，未导入密码")));
        QVERIFY(summary.contains(QStringLiteral("无法导入“truncated.rdg”")));
        QCOMPARE(f.rows(), (Rows{
                               QStringLiteral("-Web"),
                               QStringLiteral("  127.0.0.1|web1|first"),
                               QStringLiteral("  127.0.0.2|web2|second"),
                               QStringLiteral("-DB"),
                               QStringLiteral("  127.0.0.3|db|"),
                               QStringLiteral("  web1.example.test|admin|Web server"),
                               QStringLiteral("  web2.example.test|operator|Web front"),
                               QStringLiteral("-未分组"),
                               QStringLiteral("  127.0.0.4||"),
                           }));
        const QString file = QString::fromUtf8(f.fileText());
        QVERIFY(file.contains(QStringLiteral("[ServerItem5]\nGroupId=2\nDescription=Web server\nServer=web1.example.test\nPort=3390\nDomain=CORP\nUser=admin\n")));
        QVERIFY(file.contains(QStringLiteral("[ServerItem6]\nGroupId=2\nDescription=Web front\nServer=web2.example.test\nPort=3395\n")));
    }

    // A new group can be typed; only local files are taken, the list's own drags pass on.
    void dropIntoNewGroup()
    {
        ManagerFixture f(SmallCatalogue());
        const std::unique_ptr<QMimeData> data(fileDrag({dataFile(QStringLiteral("confCons.xml"))}));
        QWidget *viewport = f.view()->viewport();
        const QPoint below(5, viewport->height() - 5);
        QVERIFY(dragAccepted(viewport, data.get(), below));
        QString offered, found;
        MessageBoxAnswers boxes;
        DialogAnswers answers(importInto(QStringLiteral("Office"), &offered, &found));
        QDropEvent drop(below, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QTRY_COMPARE(boxes.texts.size(), 1);
        QCOMPARE(answers.answered(), 1);
        const QString summary = boxes.texts[0];
        QCOMPARE(offered, QStringLiteral("Web")); // the group combo's choice
        QVERIFY2(summary.startsWith(QStringLiteral("已导入 3 台服务器到组“Office”。")), qPrintable(summary));
        QVERIFY(f.comboEntries().contains(QStringLiteral("Office")));
        QCOMPARE(GetGroup(GetGroupIdByName(QStringLiteral("Office"))).GroupName, QStringLiteral("Office"));
        QCOMPARE(f.rows().mid(7), (Rows{
                                      QStringLiteral("-Office"),
                                      QStringLiteral("  reception.office.test|officeuser|Reception PC — front desk"),
                                      QStringLiteral("  127.0.0.13|prn|Printer box"),
                                      QStringLiteral("  deep.office.test|officeuser|Deep"),
                                  }));

        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("http://127.0.0.1/list.rdp"))});
        QVERIFY(!dragAccepted(viewport, &web, below));
    }

    // The menu's import command reads the files chosen in the file dialog.
    void importCommand()
    {
        ManagerFixture f(SmallCatalogue());
        QVERIFY(Child<QMenu>(f.form, "pmLv")->actions().contains(Child<TServerTransfer>(f.form)->actImport));
        f.select(QStringLiteral("未分组"));
        QString offered, found;
        MessageBoxAnswers boxes;
        FileDialog::SetNextFileNames({dataFile(QStringLiteral("old-layout.rdg"))});
        DialogAnswers answers(importInto(UngroupedName(), &offered, &found));
        Child<TServerTransfer>(f.form)->actImport->trigger();
        const QList<FileDialog::Request> asked = FileDialog::TakeAnsweredRequests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, FileDialog::Kind::OpenFiles);
        QCOMPARE(asked[0].filter, ImportFileFilter());
        QCOMPARE(answers.answered(), 1);
        QCOMPARE(boxes.texts.size(), 1);
        QCOMPARE(offered, UngroupedName());
        QCOMPARE(f.rows().last(), QStringLiteral("  branch1.example.invalid|branchuser|分店一号"));
        QCOMPARE(GetSvrList().Items(4)->ClntSett.Password, QStringLiteral("pl41n"));
        QCOMPARE(GetSvrList().Items(4)->Group.GroupId, UngroupedId);
    }

    // The selected server, and a group, go out as .rdp files without passwords.
    void exportCommands()
    {
        ManagerFixture f(SmallCatalogue());
        QTemporaryDir out;
        f.select(QStringLiteral("127.0.0.2"));
        Child<TServerTransfer>(f.form)->UpdateActions();
        QVERIFY(Child<TServerTransfer>(f.form)->actExport->isEnabled());
        const QString path = out.filePath(QStringLiteral("one.rdp"));
        FileDialog::SetNextFileName(path);
        Child<TServerTransfer>(f.form)->actExport->trigger();
        QList<FileDialog::Request> asked = FileDialog::TakeAnsweredRequests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, FileDialog::Kind::SaveFile);
        QCOMPARE(asked[0].start, QStringLiteral("second.rdp")); // named after the selected server
        const TImportResult one = ReadImportFile(path);
        QCOMPARE(one.Records.size(), size_t(1));
        QCOMPARE(one.Records[0].Settings.Server, QStringLiteral("127.0.0.2"));
        QCOMPARE(one.Records[0].Settings.User, QStringLiteral("web2"));
        QCOMPARE(one.Records[0].Settings.Password, QString());

        f.select(QStringLiteral("Web"));
        Child<TServerTransfer>(f.form)->UpdateActions();
        QVERIFY(!Child<TServerTransfer>(f.form)->actExport->isEnabled());
        QString summary;
        {
            MessageBoxAnswers boxes;
            FileDialog::SetNextFileName(out.path());
            Child<TServerTransfer>(f.form)->actExportGrp->trigger();
            asked = FileDialog::TakeAnsweredRequests();
            QCOMPARE(asked.size(), 1);
            QCOMPARE(asked[0].kind, FileDialog::Kind::Folder);
            QCOMPARE(asked[0].caption, QStringLiteral("导出组“Web”到文件夹"));
            QCOMPARE(boxes.texts.size(), 1);
            summary = boxes.texts[0];
        }
        QVERIFY2(summary.startsWith(QStringLiteral("已将 2 台服务器导出到")), qPrintable(summary));
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("first.rdp"))));
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("second.rdp"))));
    }
};

QTEST_MAIN(TestServerFind)
#include "tst_serverfind.moc"
