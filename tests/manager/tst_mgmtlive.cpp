// The manager on a catalogue shared in a database: a colleague's changes reach
// the list row by row; editing a server a colleague deletes loses nothing; a
// database that cannot be reached at start offers the local file; a lost one
// shows in the status bar until it is back.
#include "CatalogueEvents.h"
#include "DatabaseTransfer.h"
#include "EditForm.h"
#include "GroupListItems.h"
#include "FormChild.h"
#include "MgmtForm.h"
#include "MessageBoxAnswers.h"
#include "DialogAnswers.h"
#include "RdpCommon.h"
#include "ServerListModel.h"
#include "ServerListView.h"
#include "catalogue/PgServer.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

class TestMgmtLive : public QObject {
    Q_OBJECT

    std::unique_ptr<PgServer> server;
    QTemporaryDir config;
    QString database;
    int databases = 0;
    std::unique_ptr<TfrmMgmt> form;

    // Group rows as "-name", server rows as "  address|description".
    QStringList rows() const
    {
        QStringList out;
        ServerListModel *list = form->findChild<TServerListView *>(QStringLiteral("lvSvr"))->List();
        for (int i = 0; i < list->RowCount(); ++i) {
            const auto text = [&](int column) { return list->index(i, column).data().toString(); };
            out << (GroupOf(list->RowObject(i)) ? QStringLiteral("-") + text(ColServer)
                                                : QStringLiteral("  %1|%2").arg(text(ColServer), text(ColDescription)));
        }
        return out;
    }

    void selectRow(int index) const
    {
        auto *view = form->findChild<TServerListView *>(QStringLiteral("lvSvr"));
        view->SelectRow(view->List()->RowObject(index));
    }

    QString statusText() const { return Child<QStatusBar>(form, "stat1")->findChild<QLabel *>(QStringLiteral("stat1File"))->text(); }

    bool colleague(const QString &sql) const { return server->sql(database, sql); }

    void openManager()
    {
        database = QStringLiteral("m%1").arg(++databases);
        QVERIFY(server->createDatabase(database));
        UseDatabase(server->address(database));
        form = std::make_unique<TfrmMgmt>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()) || form->isVisible());
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        InstallErrorMessageBoxes();
        server = PgServer::StartIfRunnable();
    }
    void cleanupTestCase() { server.reset(); }
    void cleanup()
    {
        form.reset();
        ReleaseCatalogue();
    }

    void colleaguesChangesReachTheRows()
    {
        PG_SERVER_OR_SKIP(server);
        openManager();
        QCOMPARE(rows(), QStringList());
        QVERIFY(statusText().startsWith(QStringLiteral("服务器目录数据库：postgresql://")));
        QVERIFY(colleague(QStringLiteral("INSERT INTO catalogue_group (name) VALUES ('机房')")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), QStringList{QStringLiteral("-机房")}, 1000);
        QVERIFY(colleague(QStringLiteral("INSERT INTO catalogue_server (address, description) VALUES ('127.0.0.5', 'a')")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), (QStringList{QStringLiteral("-机房"), QStringLiteral("-未分组"), QStringLiteral("  127.0.0.5|a")}), 1000);
        QVERIFY(colleague(QStringLiteral("UPDATE catalogue_server SET description = 'b'")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), (QStringList{QStringLiteral("-机房"), QStringLiteral("-未分组"), QStringLiteral("  127.0.0.5|b")}), 1000);
        QVERIFY(colleague(QStringLiteral("UPDATE catalogue_server SET group_id = 1")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), (QStringList{QStringLiteral("-机房"), QStringLiteral("  127.0.0.5|b"), QStringLiteral("-未分组")}), 1000);
        QVERIFY(colleague(QStringLiteral("UPDATE catalogue_group SET name = '新机房'")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), (QStringList{QStringLiteral("-新机房"), QStringLiteral("  127.0.0.5|b"), QStringLiteral("-未分组")}), 1000);
        QCOMPARE(Child<QComboBox>(form, "cbbGrp")->itemText(0), QStringLiteral("新机房"));
        QVERIFY(colleague(QStringLiteral("DELETE FROM catalogue_server")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), (QStringList{QStringLiteral("-新机房"), QStringLiteral("-未分组")}), 1000);
        QVERIFY(colleague(QStringLiteral("DELETE FROM catalogue_group")));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), QStringList{QStringLiteral("-未分组")}, 1000);
        QCOMPARE(Child<QComboBox>(form, "cbbGrp")->count(), 0);

        // The database server goes away and comes back: the status bar says so.
        QVERIFY(server->stop());
        QTRY_VERIFY_WITH_TIMEOUT(statusText().contains(QStringLiteral("连接已断开")), 3000);
        QVERIFY(server->start());
        QTRY_VERIFY_WITH_TIMEOUT(statusText().startsWith(QStringLiteral("服务器目录数据库：")), 5000);
    }

    // A colleague deletes the server whose settings dialog is open: the dialog's
    // edits are kept as a new server, and the user is told.
    void editingAServerAColleagueDeletes()
    {
        PG_SERVER_OR_SKIP(server);
        openManager();
        QVERIFY(colleague(QStringLiteral("INSERT INTO catalogue_server (address, description) VALUES ('127.0.0.6', 'old')")));
        QTRY_COMPARE_WITH_TIMEOUT(rows().size(), 2, 1000);
        selectRow(1);
        MessageBoxAnswers boxes;
        {
            DialogAnswers answer([&](QDialog *w) {
                auto *dialog = qobject_cast<TfrmEdit *>(w);
                QVERIFY(dialog);
                QVERIFY(colleague(QStringLiteral("DELETE FROM catalogue_server")));
                QTRY_COMPARE_WITH_TIMEOUT(rows().size(), 1, 1000); // the row goes while the dialog is open
                dialog->edtDesc->setText(QStringLiteral("mine"));
                QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
            });
            form->actOpenExecute();
            QVERIFY(answer.answered());
        }
        QTRY_COMPARE(boxes.texts.size(), 1);
        const QString told = boxes.texts[0];
        QVERIFY2(told.contains(QStringLiteral("已被其他管理员删除")) && told.contains(QStringLiteral("没有丢失")), qPrintable(told));
        QCOMPARE(rows(), (QStringList{QStringLiteral("-未分组"), QStringLiteral("  127.0.0.6|mine")}));
        QString stored;
        QVERIFY(server->sql(database, QStringLiteral("SELECT address || '|' || description FROM catalogue_server"), &stored));
        QCOMPARE(stored, QStringLiteral("127.0.0.6|mine"));
    }

    // A colleague saves the server whose settings dialog is open: OK shows what they
    // changed and asks; "是" keeps the user's edits on top of theirs, "否" takes theirs.
    // Either way nothing is overwritten unseen.
    void editingAServerAColleagueSaves_data()
    {
        QTest::addColumn<bool>("keepMine");
        QTest::addColumn<QString>("result");
        QTest::newRow("keep mine") << true << "3390|mine";
        QTest::newRow("take the colleague's") << false << "3390|theirs";
    }
    void editingAServerAColleagueSaves()
    {
        QFETCH(bool, keepMine);
        QFETCH(QString, result);
        PG_SERVER_OR_SKIP(server);
        openManager();
        QVERIFY(colleague(QStringLiteral("INSERT INTO catalogue_server (address, description) VALUES ('127.0.0.6', 'old')")));
        QTRY_COMPARE_WITH_TIMEOUT(rows().size(), 2, 1000);
        selectRow(1);
        MessageBoxAnswers boxes(keepMine ? QMessageBox::Yes : QMessageBox::No);
        {
            DialogAnswers answer([&](QDialog *w) {
                auto *dialog = qobject_cast<TfrmEdit *>(w);
                QVERIFY(dialog);
                QVERIFY(colleague(QStringLiteral("UPDATE catalogue_server SET port = 3390, description = 'theirs'")));
                QTRY_COMPARE_WITH_TIMEOUT(rows().at(1), QStringLiteral("  127.0.0.6|theirs"), 1000);
                dialog->edtDesc->setText(QStringLiteral("mine"));
                QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
            });
            form->actOpenExecute();
            QVERIFY(answer.answered());
        }
        QCOMPARE(boxes.questions.size(), 1);
        QVERIFY(boxes.texts.isEmpty());
        const QString asked = boxes.questions[0];
        QVERIFY2(asked.contains(QStringLiteral("端口：3389 → 3390")) && asked.contains(QStringLiteral("备注：old → theirs"))
                     && !asked.contains(QStringLiteral("服务器：")),
                 qPrintable(asked));
        QString stored;
        QVERIFY(server->sql(database, QStringLiteral("SELECT port || '|' || description FROM catalogue_server"), &stored));
        QCOMPARE(stored, result);
        QTRY_COMPARE_WITH_TIMEOUT(rows().at(1), QStringLiteral("  127.0.0.6|") + result.section(QLatin1Char('|'), 1), 1000);
        QCOMPARE(GetSvrList().Items(0)->ClntSett.Port, 3390);
    }

    // The database refuses a save: the message says why and the dialog stays open
    // with everything typed, for another try that then goes through.
    void refusedSaveKeepsTheDialog()
    {
        PG_SERVER_OR_SKIP(server);
        openManager();
        QVERIFY(colleague(QStringLiteral("INSERT INTO catalogue_server (address, description) VALUES ('127.0.0.7', 'old')")));
        QVERIFY(colleague(QStringLiteral("ALTER TABLE catalogue_server ADD CONSTRAINT not_refused CHECK (description <> 'refused')")));
        QTRY_COMPARE_WITH_TIMEOUT(rows().size(), 2, 1000);
        selectRow(1);
        MessageBoxAnswers boxes;
        bool stayedOpen = false;
        {
            DialogAnswers answer([&](QDialog *w) {
                auto *dialog = qobject_cast<TfrmEdit *>(w);
                QVERIFY(dialog);
                dialog->edtDesc->setText(QStringLiteral("refused"));
                dialog->edtUser->setText(QStringLiteral("ops"));
                QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
                QTRY_COMPARE(boxes.texts.size(), 1);
                stayedOpen = dialog->isVisible() && dialog->edtDesc->text() == QStringLiteral("refused")
                    && dialog->edtUser->text() == QStringLiteral("ops") && dialog->btnOK->isEnabled();
                dialog->edtDesc->setText(QStringLiteral("accepted"));
                QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
            });
            form->actOpenExecute();
            QVERIFY(answer.answered());
        }
        QVERIFY(stayedOpen);
        QVERIFY2(boxes.texts[0].contains(QStringLiteral("Unable to write to")), qPrintable(boxes.texts[0]));
        QCOMPARE(boxes.texts.size(), 1);
        QCOMPARE(rows(), (QStringList{QStringLiteral("-未分组"), QStringLiteral("  127.0.0.7|accepted")}));
        QString stored;
        QVERIFY(server->sql(database, QStringLiteral("SELECT description || '|' || user_name FROM catalogue_server"), &stored));
        QCOMPARE(stored, QStringLiteral("accepted|ops"));
    }

    // A server list file copied into the database from the window: the summary is
    // the command line's, and the servers reach the list.
    void fileImportedIntoTheDatabase()
    {
        PG_SERVER_OR_SKIP(server);
        openManager();
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("SvrList.ini"));
        QFile ini(file);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[MISC]\nMaxGroupID=1\nMaxServerId=2\n[GroupItem1]\nGroupName=Web\n"
                  "[ServerItem1]\nGroupId=1\nServer=127.0.0.8\n[ServerItem2]\nServer=127.0.0.9\n");
        ini.close();
        const QString summary = TDatabaseTransfer::Copy(true, file, server->address(database));
        QVERIFY2(summary.contains(QStringLiteral("1 个组，2 台服务器")), qPrintable(summary));
        QTRY_COMPARE_WITH_TIMEOUT(rows(),
                                  (QStringList{QStringLiteral("-Web"), QStringLiteral("  127.0.0.8|"), QStringLiteral("-未分组"),
                                               QStringLiteral("  127.0.0.9|")}),
                                  3000);
    }

    // A database that cannot be reached at start: the message says why, and the
    // user may open the local server list file instead.
    void unreachableAtStartOffersTheLocalFile()
    {
        PG_SERVER_OR_SKIP(server);
        UseDatabase(server->address(QStringLiteral("postgres")).replace(QStringLiteral("port=%1").arg(server->port()), QStringLiteral("port=1")));
        MessageBoxAnswers boxes(QMessageBox::Yes);
        form = std::make_unique<TfrmMgmt>();
        form->show();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.questions.size(), 1, 10000);
        const QString question = boxes.questions[0];
        QVERIFY2(question.contains(QStringLiteral("无法连接服务器目录数据库")) && question.contains(QStringLiteral("服务器列表文件")),
                 qPrintable(question));
        QVERIFY(!CatalogueInDatabase());
        QVERIFY(statusText().startsWith(QStringLiteral("服务器列表文件：")));
    }
};

QTEST_MAIN(TestMgmtLive)
#include "tst_mgmtlive.moc"
