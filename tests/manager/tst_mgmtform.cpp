#include "AppError.h"
#include "ClientForm.h"
#include "EditForm.h"
#include "GrpForm.h"
#include "ManagerFixture.h"
#include "MessageBoxAnswers.h"
#include "DialogAnswers.h"
#include "MsgBox.h"
#include "PingThread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragMoveEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QToolTip>

#include <algorithm>

namespace {

using Rows = QStringList;

// Fills the settings dialog and confirms it.
DialogAnswers::Answer fillSettings(const QString &server, const QString &user, const QString &password,
                                   const QString &description = {})
{
    return [=](QDialog *w) {
        auto *dialog = qobject_cast<TfrmEdit *>(w);
        QVERIFY(dialog);
        dialog->edtSvr->setText(server);
        dialog->edtUser->setText(user);
        dialog->edtPwd->setText(password);
        dialog->edtDesc->setText(description);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    };
}

DialogAnswers::Answer typeGroupName(const QString &name)
{
    return [=](QDialog *w) {
        auto *dialog = qobject_cast<TfrmGrpName *>(w);
        QVERIFY(dialog);
        dialog->edtGrp->setText(name);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    };
}

bool dragAccepted(TServerListView *list, const QMimeData *data, const QPoint &at)
{
    QDragEnterEvent enter(at, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    QDragMoveEvent move(at, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &move);
    return move.isAccepted();
}

QPoint centreOf(TServerListView *list, const ListRow &row)
{
    return list->RowRect(row.object).center();
}

} // namespace

// The file, read afresh, holds the group under its new name.
void ReloadCatalogueCheck(const QString &file, int groupId, const QString &name)
{
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(in.readAll()).contains(QStringLiteral("[GroupItem%1]\nGroupName=%2\n").arg(groupId).arg(name)));
}

class TestMgmtForm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InstallErrorMessageBoxes(); }

    void showsTheCatalogueGrouped()
    {
        QFile fixture(QStringLiteral(BRENNIC_TEST_DATA "/SvrList-utf8.ini"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        ManagerFixture f(fixture.readAll());
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Kestrune 1.3 "));
        QCOMPARE(f.rows(), (Rows{
                               QStringLiteral("-生产服务器"),
                               QStringLiteral("  127.0.0.10|administrator|主站 Web 服务器"),
                               QStringLiteral("  localhost|admin|备用"),
                               QStringLiteral("-测试环境"),
                               QStringLiteral("  127.0.0.12|测试用户|测试机，端口非默认"),
                               QStringLiteral("-未分组"),
                               QStringLiteral("  127.0.0.13|ops|组已删除的服务器"),
                               QStringLiteral("-未分组"),
                               QStringLiteral("  127.0.0.14|root|"),
                           }));
        QCOMPARE(f.comboEntries(), (QStringList{QStringLiteral("生产服务器"), QStringLiteral("测试环境"), QStringLiteral("数据库")}));
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentIndex(), 0);
        QCOMPARE(f.view()->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("状态"));
        // The status bar tells which server list file is in use.
        QCOMPARE(f.form->findChild<QLabel *>(QStringLiteral("stat1File"))->text(),
                 QStringLiteral("服务器列表文件：") + f.file);
    }

    void statusesArriveAndAreDrawn()
    {
        ManagerFixture f(SmallCatalogue());
        // Loopback answers: the real poller writes "Online" within a few cycles.
        QTRY_COMPARE_WITH_TIMEOUT(f.row(QStringLiteral("127.0.0.1")).text(ColStatus), QStringLiteral("Online"), 15000);
        f.select(QStringLiteral("127.0.0.1"));
        QCOMPARE(Child<QLabel>(f.form, "stat1Panel0")->text(), QStringLiteral("Online"));
        f.select(QStringLiteral("Web"));
        QCOMPARE(Child<QLabel>(f.form, "stat1Panel0")->text(), QString());
    }

    // The poller's report sets the row's status; every cell's colours follow it.
    void drawingFollowsTheStatus_data()
    {
        QTest::addColumn<HostStatus>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("rowBackground");
        QTest::addColumn<QColor>("statusText");
        const QColor grey(160, 160, 164);
        QTest::newRow("offline") << HostStatus::Offline << "Offline" << grey << QColor(255, 0, 0);
        QTest::newRow("not found") << HostStatus::NotFound << "Offline" << grey << QColor(255, 0, 0);
        QTest::newRow("online") << HostStatus::Online << "Online" << QColor() << QColor(0, 128, 0);
    }
    void drawingFollowsTheStatus()
    {
        QFETCH(HostStatus, status);
        QFETCH(QString, text);
        QFETCH(QColor, rowBackground);
        QFETCH(QColor, statusText);
        ManagerFixture f(SmallCatalogue());
        const ListRow row = f.row(QStringLiteral("127.0.0.3"));
        const auto colour = [row](int column, int role) {
            const QVariant value = row.data(column, role);
            return value.isValid() ? value.value<QBrush>().color() : QColor();
        };
        QCOMPARE(row.text(ColStatus), QString()); // drawn normally before the first report
        for (int column = 0; column < ColumnCount; ++column)
            QCOMPARE(colour(column, Qt::BackgroundRole), QColor());

        TPingThread *poller = row.item()->PingThd();
        poller->Suspend(); // only the test's report reaches the row
        Report(f.list(), row.item(), status);
        QCOMPARE(row.Status(), status);
        QCOMPARE(row.text(ColStatus), text);
        for (int column = 0; column < ColumnCount; ++column)
            QCOMPARE(colour(column, Qt::BackgroundRole), rowBackground);
        QCOMPARE(colour(ColStatus, Qt::ForegroundRole), statusText);
        QCOMPARE(colour(ColUser, Qt::ForegroundRole), QColor());
        QVERIFY(!row.data(ColServer, Qt::FontRole).value<QFont>().bold());
        QVERIFY(f.row(QStringLiteral("DB")).data(ColServer, Qt::FontRole).value<QFont>().bold());
    }

    // A change of status repaints the whole row, not the status cell alone.
    void statusChangeRepaintsTheWholeRow()
    {
        ManagerFixture f(SmallCatalogue());
        const ListRow row = f.row(QStringLiteral("127.0.0.3"));
        TPingThread *poller = row.item()->PingThd();
        poller->Suspend();
        QSignalSpy changed(f.view()->model(), &QAbstractItemModel::dataChanged);
        Report(f.list(), row.item(), HostStatus::Offline);
        QCOMPARE(changed.count(), 1);
        const auto left = changed.at(0).at(0).value<QModelIndex>();
        const auto right = changed.at(0).at(1).value<QModelIndex>();
        QCOMPARE(left.row(), f.indexOf(QStringLiteral("127.0.0.3")));
        QCOMPARE(left.column(), 0);
        QCOMPARE(right.column(), ColumnCount - 1);
        Report(f.list(), row.item(), HostStatus::Offline); // no change, nothing to repaint
        QCOMPARE(changed.count(), 1);
    }

    void collapseAndExpand()
    {
        ManagerFixture f(SmallCatalogue());
        QCOMPARE(f.rows(), SmallCatalogueRows());
        TPingThread *poller = f.row(QStringLiteral("127.0.0.1")).item()->PingThd();
        f.select(QStringLiteral("Web"));
        f.form->lvSvrDblClick();
        QCOMPARE(f.rows(), (Rows{QStringLiteral("+Web"), QStringLiteral("-DB"), QStringLiteral("  127.0.0.3|db|"), QStringLiteral("-未分组"), QStringLiteral("  127.0.0.4||")}));
        QCOMPARE(poller->state(), TPingThread::State::Paused);
        FindGroupRow(f.list(), 1)->Collapse();  // collapsing twice changes nothing
        FindGroupRow(f.list(), -1)->Collapse(); // the last group: stops at the end of the list
        QCOMPARE(f.rows(), (Rows{QStringLiteral("+Web"), QStringLiteral("-DB"), QStringLiteral("  127.0.0.3|db|"), QStringLiteral("+未分组")}));
        f.select(QStringLiteral("Web"));
        f.form->lvSvrDblClick();
        FindGroupRow(f.list(), 1)->Expand();
        QCOMPARE(f.rows(), (Rows{
                               QStringLiteral("-Web"),
                               QStringLiteral("  127.0.0.1|web1|first"),
                               QStringLiteral("  127.0.0.2|web2|second"),
                               QStringLiteral("-DB"),
                               QStringLiteral("  127.0.0.3|db|"),
                               QStringLiteral("+未分组"),
                           }));
        QCOMPARE(poller->state(), TPingThread::State::Running);
        QCOMPARE(poller->ListItem(), static_cast<PingTarget *>(f.row(QStringLiteral("127.0.0.1")).item()));
        QCOMPARE(f.row(QStringLiteral("127.0.0.1")).text(ColStatus), QString());
    }

    void idleRulesEnableTheCommands_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("serverCommands");
        QTest::addColumn<bool>("rename");
        QTest::newRow("nothing") << "" << false << false;
        QTest::newRow("group") << "Web" << false << true;
        QTest::newRow("ungrouped") << QStringLiteral("未分组") << false << false;
        QTest::newRow("server") << "127.0.0.2" << true << false;
    }
    void idleRulesEnableTheCommands()
    {
        QFETCH(QString, selected);
        QFETCH(bool, serverCommands);
        QFETCH(bool, rename);
        ManagerFixture f(SmallCatalogue());
        f.select(selected);
        Child<QAction>(f.form, "actOpen")->setEnabled(!serverCommands); // stale until the application falls idle
        f.idle();
        for (QAction *a : {Child<QAction>(f.form, "actOpen"), Child<QAction>(f.form, "actConnect"), Child<QAction>(f.form, "actDelete")})
            QCOMPARE(a->isEnabled(), serverCommands);
        QCOMPARE(Child<QPushButton>(f.form, "btnOpen")->isEnabled(), serverCommands);
        QVERIFY(Child<QAction>(f.form, "actAdd")->isEnabled());
        QCOMPARE(Child<QAction>(f.form, "actRenameGrp")->isEnabled(), rename);
        QCOMPARE(Child<QAction>(f.form, "actRenameGrp")->isVisible(), rename);
        QCOMPARE(Child<QAction>(f.form, "N2")->isVisible(), rename);
        QCOMPARE(Child<QAction>(f.form, "actOpen")->shortcut(), QKeySequence(Qt::Key_F2));
        QCOMPARE(Child<QPushButton>(f.form, "btnConnect")->text(), QStringLiteral("连接(&C)"));
    }

    void dragMovesAServerToAnotherGroup()
    {
        ManagerFixture f(SmallCatalogue());
        TServerListView *list = f.view();
        f.select(QStringLiteral("Web"));
        QVERIFY2(!list->beginDrag(), "a group row is not dragged");
        f.select(QStringLiteral("127.0.0.1"));
        std::unique_ptr<QMimeData> data(list->beginDrag());
        QVERIFY(data);
        QVERIFY(!dragAccepted(list, data.get(), centreOf(list, f.row(QStringLiteral("Web")))));
        QVERIFY(!dragAccepted(list, data.get(), centreOf(list, f.row(QStringLiteral("127.0.0.2")))));
        QVERIFY(!dragAccepted(list, data.get(), QPoint(5, list->viewport()->height() - 2)));
        QVERIFY(dragAccepted(list, data.get(), centreOf(list, f.row(QStringLiteral("DB")))));
        QVERIFY(dragAccepted(list, data.get(), centreOf(list, f.row(QStringLiteral("127.0.0.4")))));
        QMimeData foreign;
        foreign.setData(QStringLiteral("application/x-brennic-server-row"), "elsewhere");
        QVERIFY(!dragAccepted(list, &foreign, centreOf(list, f.row(QStringLiteral("DB")))));

        QDropEvent drop(centreOf(list, f.row(QStringLiteral("127.0.0.3"))), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &drop);
        list->endDrag();
        QCOMPARE(f.rows(), (Rows{
                               QStringLiteral("-Web"),
                               QStringLiteral("  127.0.0.2|web2|second"),
                               QStringLiteral("-DB"),
                               QStringLiteral("  127.0.0.3|db|"),
                               QStringLiteral("  127.0.0.1|web1|first"),
                               QStringLiteral("-未分组"),
                               QStringLiteral("  127.0.0.4||"),
                           }));
        QVERIFY(!list->Selected());
        QCOMPARE(GetSvrItem(1)->Group, (TSvrGroup{2, QStringLiteral("DB")}));
        QVERIFY(f.fileText().contains("[ServerItem1]\nGroupId=2\n"));
        QCOMPARE(f.row(QStringLiteral("127.0.0.1")).item()->PingThd()->state(), TPingThread::State::Running);
    }

    void addEditAndDeleteServers()
    {
        ManagerFixture f(SmallCatalogue());
        f.select(QStringLiteral("Web"));
        {
            DialogAnswers answer(fillSettings(QStringLiteral("127.0.0.9"), QStringLiteral("  new user "), QStringLiteral(" pw "), QStringLiteral("added")));
            Child<QAction>(f.form, "actAdd")->trigger();
            QVERIFY(answer.answered());
        }
        QCOMPARE(f.rows().mid(5), (Rows{QStringLiteral("-未分组"), QStringLiteral("  127.0.0.4||"), QStringLiteral("  127.0.0.9|new user|added")}));
        QCOMPARE(GetSvrItem(5)->ClntSett.Password, QStringLiteral(" pw "));
        QVERIFY(f.fileText().contains("[ServerItem5]\nGroupId=-1\nDescription=added\nServer=127.0.0.9\n"));

        // Editing pauses the row's poller while the dialog is open.
        f.select(QStringLiteral("127.0.0.2"));
        TPingThread *poller = f.row(QStringLiteral("127.0.0.2")).item()->PingThd();
        TPingThread::State during{};
        QString caption;
        const int editedRow = f.indexOf(QStringLiteral("127.0.0.2"));
        QSignalSpy changed(f.view()->model(), &QAbstractItemModel::dataChanged);
        {
            DialogAnswers answer([&](QDialog *w) {
                during = poller->state();
                caption = w->windowTitle();
                auto *dialog = qobject_cast<TfrmEdit *>(w);
                QCOMPARE(dialog->edtSvr->text(), QStringLiteral("127.0.0.2"));
                QCOMPARE(dialog->edtDesc->text(), QStringLiteral("second"));
                dialog->edtSvr->setText(QStringLiteral("127.0.0.22"));
                dialog->edtDesc->setText(QStringLiteral("changed"));
                QTest::keyClick(dialog->edtDesc, Qt::Key_Return); // Enter confirms
            });
            f.form->lvSvrDblClick();
            QVERIFY(answer.answered());
        }
        QCOMPARE(caption, QStringLiteral("修改服务器设置"));
        QCOMPARE(during, TPingThread::State::Paused);
        QCOMPARE(poller->state(), TPingThread::State::Running);
        QVERIFY(f.rows().contains(QStringLiteral("  127.0.0.22|web2|changed")));
        // The row reads its record; the edit repaints the whole of it.
        QVERIFY(std::any_of(changed.begin(), changed.end(), [editedRow](const QList<QVariant> &args) {
            const auto left = args.at(0).value<QModelIndex>();
            const auto right = args.at(1).value<QModelIndex>();
            return left.row() == editedRow && left.column() == 0 && right.column() == ColumnCount - 1;
        }));
        QCOMPARE(GetSvrItem(2)->ClntSett.Server, QStringLiteral("127.0.0.22"));
        QVERIFY(f.fileText().contains("Server=127.0.0.22\n"));

        // Deleting asks first.
        f.select(QStringLiteral("127.0.0.1"));
        {
            MessageBoxAnswers boxes(QMessageBox::No);
            Child<QAction>(f.form, "actDelete")->trigger();
            QCOMPARE(boxes.questions, QStringList{QStringLiteral("确定删除?")});
            QCOMPARE(boxes.questionIcons, QList{QMessageBox::Warning});
        }
        QVERIFY(f.row(QStringLiteral("127.0.0.1")));
        {
            MessageBoxAnswers boxes(QMessageBox::Yes);
            Child<QAction>(f.form, "actDelete")->trigger();
        }
        QVERIFY(!f.row(QStringLiteral("127.0.0.1")));
        QVERIFY(!GetSvrItem(1));
        QVERIFY(!f.fileText().contains("[ServerItem1]"));
        f.select(QStringLiteral("127.0.0.22"));
        {
            MessageBoxAnswers boxes(QMessageBox::Yes);
            Child<QAction>(f.form, "actDelete")->trigger();
        }
        QCOMPARE(f.rows().first(), QStringLiteral("-Web")); // the emptied group keeps its row
        QCOMPARE(f.rows().at(1), QStringLiteral("-DB"));
    }

    // A number field that holds no whole number refuses OK and keeps what was typed.
    void unreadableNumbersAreRefused_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("tab");
        QTest::newRow("port") << "edtPort" << QStringLiteral("端口必须是整数") << 0;
        QTest::newRow("width") << "edtWidth" << QStringLiteral("宽度必须是整数") << 1;
        QTest::newRow("height") << "edtHeight" << QStringLiteral("高度必须是整数") << 1;
    }
    void unreadableNumbersAreRefused()
    {
        QFETCH(QString, field);
        QFETCH(QString, message);
        QFETCH(int, tab);
        ManagerFixture f(SmallCatalogue());
        f.select(QStringLiteral("127.0.0.1"));
        TPingThread *poller = f.row(QStringLiteral("127.0.0.1")).item()->PingThd();
        QStringList shown;
        QString kept;
        int tabAfter = -1;
        bool stayedOpen = false;
        {
            DialogAnswers answer([&](QDialog *w) {
                auto *dialog = qobject_cast<TfrmEdit *>(w);
                auto *edit = dialog->findChild<QLineEdit *>(field);
                edit->setText(field == QStringLiteral("edtPort") ? QStringLiteral("") : QStringLiteral("99999999999"));
                dialog->edtUser->setText(QStringLiteral("typed"));
                MessageBoxAnswers boxes;
                QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
                shown = boxes.texts;
                stayedOpen = dialog->isVisible();
                tabAfter = dialog->tbcSett->currentIndex();
                kept = dialog->edtUser->text();
                dialog->reject();
            });
            Child<QAction>(f.form, "actOpen")->trigger();
            QVERIFY(answer.answered());
        }
        QCOMPARE(shown, QStringList{message});
        QVERIFY(stayedOpen);
        QCOMPARE(tabAfter, tab);
        QCOMPARE(kept, QStringLiteral("typed"));
        QCOMPARE(poller->state(), TPingThread::State::Running);
        QCOMPARE(GetSvrItem(1)->ClntSett.User, QStringLiteral("web1"));
    }

    void connectChecksInOrder_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("no address, no user") << " "
                                             << ""
                                             << "pw" << QStringLiteral("服务器空,请添加");
        QTest::newRow("no user") << "127.0.0.1"
                                 << "  "
                                 << "pw" << QStringLiteral("请输入用户名");
        QTest::newRow("blank password") << "127.0.0.1"
                                        << "u"
                                        << "   " << QStringLiteral("请输入密码");
    }
    void connectChecksInOrder()
    {
        QFETCH(QString, server);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, message);
        ManagerFixture f(SmallCatalogue());
        f.select(QStringLiteral("127.0.0.1"));
        PSvrItem record = GetSvrItem(1);
        record->ClntSett.Server = server;
        record->ClntSett.User = user;
        record->ClntSett.Password = password;
        {
            MessageBoxAnswers boxes;
            Child<QAction>(f.form, "actConnect")->trigger();
            QCOMPARE(boxes.texts, QStringList{message});
        }
        QCOMPARE(f.form->OpenClients().size(), 0);
    }

    void connectOpensASessionWindowEachTime()
    {
        // A listener that accepts and stays silent: the sessions stay connecting
        // for the whole test, with nothing to report.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        ManagerFixture f(SmallCatalogue());
        GetSvrItem(2)->ClntSett.Port = silent.serverPort();
        f.select(QStringLiteral("127.0.0.2"));
        Child<QAction>(f.form, "actConnect")->trigger();
        Child<QAction>(f.form, "actConnect")->trigger();
        QCOMPARE(f.form->OpenClients().size(), 2);
        QCOMPARE(f.form->OpenClients().first()->windowTitle(), QStringLiteral("127.0.0.2 - Remote Desktop"));
        QVERIFY(f.form->OpenClients().first()->isWindow());
        // A window the user closes leaves the list.
        TfrmClient *first = f.form->OpenClients().first();
        first->close();
        QTRY_COMPARE(f.form->OpenClients().size(), 1);
        QVERIFY(f.form->OpenClients().first() != first);

        // Closing the manager with sessions open asks first.
        {
            MessageBoxAnswers boxes(QMessageBox::No);
            QVERIFY(!f.form->close());
            QCOMPARE(boxes.questions, QStringList{QStringLiteral("已有打开的窗口,确定退出?")});
        }
        QVERIFY(f.form->isVisible());
    }

    void closesWithoutAskingWhenNoSessionIsOpen()
    {
        ManagerFixture f(SmallCatalogue());
        QVERIFY(f.form->close());
    }

    void groupCommands()
    {
        ManagerFixture f(SmallCatalogue());
        // A name the combo holds already, in any letter case, is ignored.
        {
            DialogAnswers answer(typeGroupName(QStringLiteral("web")));
            QTest::mouseClick(Child<QPushButton>(f.form, "btnNewGrp"), Qt::LeftButton);
        }
        QCOMPARE(GetSvrGroups().Count(), 3);
        {
            DialogAnswers answer(typeGroupName(QStringLiteral("Ops")));
            QTest::mouseClick(Child<QPushButton>(f.form, "btnNewGrp"), Qt::LeftButton);
        }
        QCOMPARE(f.comboEntries(), (QStringList{QStringLiteral("Web"), QStringLiteral("DB"), QStringLiteral("Empty"), QStringLiteral("Ops")}));
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentText(), QStringLiteral("Ops"));
        QCOMPARE(f.rows().last(), QStringLiteral("-Ops"));
        QVERIFY(f.fileText().contains("[GroupItem4]\nGroupName=Ops\n"));

        // Rename through the combo's button.
        Child<QComboBox>(f.form, "cbbGrp")->setCurrentIndex(0);
        {
            DialogAnswers answer(typeGroupName(QStringLiteral("Front")));
            QTest::mouseClick(Child<QPushButton>(f.form, "btnEditGrp"), Qt::LeftButton);
        }
        QCOMPARE(f.comboEntries(), (QStringList{QStringLiteral("Front"), QStringLiteral("DB"), QStringLiteral("Empty"), QStringLiteral("Ops")}));
        QCOMPARE(f.rows().first(), QStringLiteral("-Front"));
        QCOMPARE(GetSvrItem(1)->Group.GroupName, QStringLiteral("Front"));
        QVERIFY(f.fileText().contains("[GroupItem1]\nGroupName=Front\n"));

        // Move a server into the combo's group: the list is rebuilt.
        f.select(QStringLiteral("127.0.0.4"));
        Child<QComboBox>(f.form, "cbbGrp")->setCurrentIndex(2);
        f.idle();
        QTest::mouseClick(Child<QPushButton>(f.form, "btnSetGrp"), Qt::LeftButton);
        QVERIFY(f.fileText().contains("[ServerItem4]\nGroupId=3\n"));
        QCOMPARE(f.rows(), (Rows{
                               QStringLiteral("-Front"),
                               QStringLiteral("  127.0.0.1|web1|first"),
                               QStringLiteral("  127.0.0.2|web2|second"),
                               QStringLiteral("-DB"),
                               QStringLiteral("  127.0.0.3|db|"),
                               QStringLiteral("-Empty"),
                               QStringLiteral("  127.0.0.4||"),
                           }));
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentIndex(), 0);

        // A group with servers is not deleted.
        Child<QComboBox>(f.form, "cbbGrp")->setCurrentIndex(1);
        {
            MessageBoxAnswers boxes;
            Child<QAction>(f.form, "actDelGrp")->trigger();
            QCOMPARE(boxes.texts, QStringList{QStringLiteral("无法删除，请先删除服务器")});
        }
        QCOMPARE(GetSvrGroups().Count(), 4);

        // An empty one is, and the combo is left without a selection.
        Child<QComboBox>(f.form, "cbbGrp")->setCurrentIndex(3);
        f.idle();
        Child<QAction>(f.form, "actDelGrp")->trigger();
        QCOMPARE(f.comboEntries(), (QStringList{QStringLiteral("Front"), QStringLiteral("DB"), QStringLiteral("Empty")}));
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentIndex(), -1);
        QVERIFY(!f.fileText().contains("[GroupItem4]"));
        f.idle();
        QVERIFY(!Child<QAction>(f.form, "actDelGrp")->isEnabled());
        QVERIFY(!Child<QPushButton>(f.form, "btnEditGrp")->isEnabled());
        QVERIFY(!Child<QPushButton>(f.form, "btnSetGrp")->isEnabled());
    }

    void renameFromThePopupMenu()
    {
        ManagerFixture f(SmallCatalogue());
        f.select(QStringLiteral("DB"));
        f.idle();
        QVERIFY(Child<QAction>(f.form, "actRenameGrp")->isVisible());
        {
            DialogAnswers answer(typeGroupName(QStringLiteral("EMPTY"))); // another group's name: ignored
            Child<QAction>(f.form, "actRenameGrp")->trigger();
            QVERIFY(answer.answered());
        }
        QCOMPARE(f.comboEntries(), (QStringList{QStringLiteral("Web"), QStringLiteral("DB"), QStringLiteral("Empty")}));
        {
            DialogAnswers answer(typeGroupName(QStringLiteral("数据库")));
            Child<QAction>(f.form, "actRenameGrp")->trigger();
        }
        QCOMPARE(f.comboEntries(), (QStringList{QStringLiteral("Web"), QStringLiteral("数据库"), QStringLiteral("Empty")}));
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentText(), QStringLiteral("数据库"));
        QVERIFY(f.row(QStringLiteral("数据库")));
        QCOMPARE(GetSvrItem(3)->Group.GroupName, QStringLiteral("数据库"));
        ReloadCatalogueCheck(f.file, 2, QStringLiteral("数据库"));
    }

    void selectingAServerChoosesItsGroup()
    {
        ManagerFixture f(SmallCatalogue());
        f.select(QStringLiteral("127.0.0.3"));
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentText(), QStringLiteral("DB"));
        f.select(QStringLiteral("127.0.0.4")); // ungrouped: no entry
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentIndex(), -1);
        f.idle();
        QVERIFY(!Child<QPushButton>(f.form, "btnSetGrp")->isEnabled());
    }

    // A failed write is shown in an error box and changes nothing.
    void failedWriteIsShownAndChangesNothing()
    {
        ManagerFixture f(SmallCatalogue());
        QVERIFY(QFile::setPermissions(f.file, QFile::ReadOwner));
        const Rows before = f.rows();
        {
            MessageBoxAnswers boxes;
            // The refused add leaves the dialog open with what was typed, for another try.
            bool keptTyping = false;
            DialogAnswers dialog([&](QDialog *w) {
                fillSettings(QStringLiteral("127.0.0.8"), QStringLiteral("u"), QStringLiteral("p"))(w);
                auto *edit = qobject_cast<TfrmEdit *>(w);
                keptTyping = edit->isVisible() && edit->edtSvr->text() == QStringLiteral("127.0.0.8");
                QTest::mouseClick(edit->btnCancel, Qt::LeftButton);
            });
            Child<QAction>(f.form, "actAdd")->trigger();
            QVERIFY(dialog.answered());
            QVERIFY(keptTyping);
            QCOMPARE(boxes.texts, QStringList{QStringLiteral("Unable to write to %1\n原因：文件为只读。").arg(f.file)});
            QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
            QCOMPARE(boxes.boxes[0].title, AppTitle());
        }
        QCOMPARE(f.rows(), before);
        QCOMPARE(GetSvrList().Count(), 4);
    }

    // Enter connects to a server and opens or closes a group; Left, Right, plus
    // and minus close and open groups.
    void keysOnTheList()
    {
        QTcpServer silent; // accepts and says nothing: a session stays connecting
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        ManagerFixture f(SmallCatalogue());
        GetSvrItem(1)->ClntSett.Port = silent.serverPort();
        TServerListView *list = f.view();
        const auto focusList = [&] {
            f.form->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
            list->setFocus();
            QCOMPARE(QApplication::focusWidget(), list);
        };
        focusList();

        // Enter on a server is the connect command: it checks the record first...
        f.select(QStringLiteral("127.0.0.4"));
        {
            MessageBoxAnswers boxes;
            QTest::keyClick(list, Qt::Key_Return);
            QCOMPARE(boxes.texts, QStringList{QStringLiteral("请输入用户名")});
        }
        // ...and opens a session window.
        focusList();
        f.select(QStringLiteral("127.0.0.1"));
        QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(f.form->OpenClients().size(), 1);
        QCOMPARE(f.form->OpenClients().first()->windowTitle(), QStringLiteral("127.0.0.1 - Remote Desktop"));
        f.form->OpenClients().first()->close();
        QTRY_COMPARE(f.form->OpenClients().size(), 0);
        focusList();

        struct Step {
            const char *selected;
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            const char *webRow;
            const char *selectedAfter;
        };
        const Step steps[] = {
            {"Web", Qt::Key_Return, Qt::NoModifier, "+Web", "Web"},
            {"Web", Qt::Key_Return, Qt::NoModifier, "-Web", "Web"},
            {"Web", Qt::Key_Left, Qt::NoModifier, "+Web", "Web"},
            {"Web", Qt::Key_Left, Qt::NoModifier, "+Web", "Web"},
            {"Web", Qt::Key_Right, Qt::NoModifier, "-Web", "Web"},
            {"Web", Qt::Key_Minus, Qt::NoModifier, "+Web", "Web"},
            {"Web", Qt::Key_Plus, Qt::NoModifier, "-Web", "Web"},
            {"Web", Qt::Key_Minus, Qt::KeypadModifier, "+Web", "Web"},
            {"Web", Qt::Key_Plus, Qt::KeypadModifier, "-Web", "Web"},
            {"127.0.0.2", Qt::Key_Right, Qt::NoModifier, "-Web", "127.0.0.2"},
            {"127.0.0.2", Qt::Key_Left, Qt::NoModifier, "-Web", "Web"}, // from a server to its group
        };
        for (const Step &step : steps) {
            f.select(QString::fromUtf8(step.selected));
            QTest::keyClick(list, step.key, step.modifiers);
            const QString what = QStringLiteral("%1 on %2").arg(QKeySequence(step.key | step.modifiers).toString(), QString::fromUtf8(step.selected));
            QVERIFY2(f.rows().first() == QLatin1String(step.webRow), qPrintable(what));
            QVERIFY2(list->Selected() && list->Selected() == f.row(QString::fromUtf8(step.selectedAfter)).object, qPrintable(what));
        }
        QCOMPARE(f.rows(), SmallCatalogueRows());
        QCOMPARE(f.form->OpenClients().size(), 0);
    }

    // A click on a group's +/- glyph opens or closes the group; a click beside it does not.
    void clickOnTheGlyphTogglesTheGroup()
    {
        ManagerFixture f(SmallCatalogue());
        TServerListView *list = f.view();
        QTRY_VERIFY(list->viewport()->isVisible());
        const QRect rowRect = list->RowRect(f.row(QStringLiteral("DB")).object);
        // Find the glyph where it is drawn: its grey outline.
        const QImage image = list->viewport()->grab().toImage();
        QRect outline;
        for (int y = rowRect.top(); y <= rowRect.bottom(); ++y)
            for (int x = rowRect.left(); x < rowRect.left() + 40; ++x)
                if (image.pixelColor(x * image.width() / list->viewport()->width(),
                                     y * image.height() / list->viewport()->height())
                    == QColor(128, 128, 128))
                    outline |= QRect(x, y, 1, 1);
        QVERIFY2(outline.width() >= 8 && outline.height() >= 8, "the glyph is drawn");
        QVERIFY(list->GlyphRect(f.row(QStringLiteral("DB")).object).contains(outline));
        const QPoint glyph = outline.center();
        const QPoint caption(outline.right() + 30, glyph.y());

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, glyph);
        QCOMPARE(f.rows(), (Rows{
                               QStringLiteral("-Web"),
                               QStringLiteral("  127.0.0.1|web1|first"),
                               QStringLiteral("  127.0.0.2|web2|second"),
                               QStringLiteral("+DB"),
                               QStringLiteral("-未分组"),
                               QStringLiteral("  127.0.0.4||"),
                           }));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, caption);
        QCOMPARE(f.rows().at(3), QStringLiteral("+DB"));
        QCOMPARE(list->Selected(), f.row(QStringLiteral("DB")).object);
        QTest::qWait(QApplication::doubleClickInterval() + 50); // the next click is a click of its own
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, glyph);
        QCOMPARE(f.rows(), SmallCatalogueRows());
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, glyph);
        QCOMPARE(f.rows(), SmallCatalogueRows());
        // Each click of a double click on the glyph counts; a double click on the caption toggles once.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, glyph);
        QCOMPARE(f.rows(), SmallCatalogueRows());
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, caption);
        QCOMPARE(f.rows().at(3), QStringLiteral("+DB"));
        // A server row has no glyph.
        QVERIFY(list->GlyphRect(f.row(QStringLiteral("127.0.0.3")).object).isEmpty());
    }

    // The tooltip of a server row tells two servers on one host apart.
    void tooltipShowsAddressUserDomainAndDescription()
    {
        ManagerFixture f(QByteArray("[MISC]\nMaxGroupID=1\nMaxServerId=2\n[GroupItem1]\nGroupName=Web\n"
                                    "[ServerItem1]\nGroupId=1\nServer=127.0.0.1\nPort=3390\nUser=admin\nDomain=CORP\n"
                                    "Description=主站\n"
                                    "[ServerItem2]\nGroupId=1\nServer=127.0.0.1\nUser=ops\n"));
        TServerListView *list = f.view();
        const ListRow first = RowAt(f.form.get(), 1);
        const ListRow second = RowAt(f.form.get(), 2);
        QCOMPARE(first.data(ColUser, Qt::ToolTipRole).toString(),
                 QStringLiteral("127.0.0.1:3390\n用户名: admin\n域: CORP\n备注: 主站"));
        QCOMPARE(second.data(ColServer, Qt::ToolTipRole).toString(), QStringLiteral("127.0.0.1:3389\n用户名: ops"));
        QCOMPARE(RowAt(f.form.get(), 0).data(ColServer, Qt::ToolTipRole).toString(), QString());
        second.item()->PingThd()->Suspend();
        Report(f.list(), second.item(), HostStatus::NotFound);
        QVERIFY(second.data(ColServer, Qt::ToolTipRole).toString().endsWith(QStringLiteral("\n找不到主机")));

        // Hovering shows it.
        f.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
        const QPoint at = list->RowRect(first.object).center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("127.0.0.1:3390\n用户名: admin\n域: CORP\n备注: 主站"));
        QToolTip::hideText();
    }

    // The panels' layouts put the controls where the design has them, at the design's size.
    void controlsStandWhereTheDesignHasThem()
    {
        ManagerFixture f(SmallCatalogue());
        f.form->SetLinkButton(new QPushButton(QStringLiteral("link")));
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        QCOMPARE(f.form->size(), QSize(633, 521));
        const auto place = [&f](const char *name) {
            auto *w = f.form->findChild<QWidget *>(QLatin1String(name));
            return w ? w->geometry() : QRect();
        };
        QCOMPARE(place("pnlTop"), QRect(0, 0, 633, 128));
        QCOMPARE(place("WebBrowser1"), QRect(24, 11, 468, 60));
        QCOMPARE(place("btnConnect"), QRect(24, 85, 75, 25));
        QCOMPARE(place("btnAdd"), QRect(144, 85, 75, 25));
        QCOMPARE(place("btnOpen"), QRect(225, 85, 75, 25));
        QCOMPARE(place("btnDelete"), QRect(306, 85, 75, 25));
        QCOMPARE(place("sBitBtn1"), QRect(494, 85, 131, 25));
        QCOMPARE(place("pnlRight").width(), 145);
        QCOMPARE(place("pnlRight").right(), 632);
        QCOMPARE(place("btnNewGrp"), QRect(22, 30, 91, 25));
        QCOMPARE(place("btnSetGrp"), QRect(22, 69, 91, 25));
        QCOMPARE(place("cbbGrp").topLeft(), QPoint(6, 117));
        QCOMPARE(place("cbbGrp").width(), 131);
        QCOMPARE(place("btnEditGrp"), QRect(22, 160, 91, 25));
        QCOMPARE(place("btnDeleteGrp"), QRect(22, 199, 91, 25));
        QCOMPARE(place("stat1").height(), 19);
    }

    // Tab runs through the top panel (the buttons, the banner, the link button),
    // the list, then the group panel.
    void tabOrder()
    {
        ManagerFixture f(SmallCatalogue());
        f.form->SetBanner(new QLineEdit);
        f.form->SetLinkButton(new QPushButton(QStringLiteral("link")));
        f.select(QStringLiteral("127.0.0.1")); // every button enabled
        f.idle();
        f.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
        Child<QPushButton>(f.form, "btnConnect")->setFocus();
        QStringList order;
        for (int i = 0; i < 14; ++i) {
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus);
            order << focus->objectName();
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{
                            QStringLiteral("btnConnect"),
                            QStringLiteral("btnOpen"),
                            QStringLiteral("btnAdd"),
                            QStringLiteral("btnDelete"),
                            QStringLiteral("WebBrowser1"),
                            QStringLiteral("sBitBtn1"),
                            QStringLiteral("edtFind"),
                            QStringLiteral("lvSvr"),
                            QStringLiteral("btnNewGrp"),
                            QStringLiteral("btnSetGrp"),
                            QStringLiteral("cbbGrp"),
                            QStringLiteral("btnEditGrp"),
                            QStringLiteral("btnDeleteGrp"),
                            QStringLiteral("btnConnect"),
                        }));
    }

    // Of two group names that differ only in letter case, renaming one leaves
    // the other's entry.
    void renameTellsNamesApartByCase()
    {
        ManagerFixture f(QByteArray("[MISC]\nMaxGroupID=2\nMaxServerId=2\n[GroupItem1]\nGroupName=Web\n"
                                    "[GroupItem2]\nGroupName=web\n"
                                    "[ServerItem1]\nGroupId=1\nServer=127.0.0.1\n[ServerItem2]\nGroupId=2\nServer=127.0.0.2\n"));
        QCOMPARE(f.comboEntries(), (QStringList{QStringLiteral("Web"), QStringLiteral("web")}));
        f.select(QStringLiteral("web"));
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentIndex(), 1); // the entry spelt as the row
        {
            DialogAnswers answer(typeGroupName(QStringLiteral("Ops")));
            Child<QAction>(f.form, "actRenameGrp")->trigger();
            QVERIFY(answer.answered());
        }
        QCOMPARE(f.comboEntries(), (QStringList{QStringLiteral("Web"), QStringLiteral("Ops")}));
        QCOMPARE(Child<QComboBox>(f.form, "cbbGrp")->currentText(), QStringLiteral("Ops"));
        QCOMPARE(GetGroup(2).GroupName, QStringLiteral("Ops"));
        QCOMPARE(GetGroup(1).GroupName, QStringLiteral("Web"));
    }

    void rightButtonNeverReachesTheBanner()
    {
        ManagerFixture f(SmallCatalogue());
        auto *inner = new QWidget(Child<QWidget>(f.form, "WebBrowser1"));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::RightButton, Qt::RightButton,
                          Qt::NoModifier);
        QMouseEvent left(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                         Qt::NoModifier);
        QVERIFY(f.form->ApplicationEvents1MessageMessage(inner, &press));
        QVERIFY(!f.form->ApplicationEvents1MessageMessage(inner, &left));
        QVERIFY(!f.form->ApplicationEvents1MessageMessage(f.view(), &press));
    }
};

QTEST_MAIN(TestMgmtForm)
#include "tst_mgmtform.moc"
