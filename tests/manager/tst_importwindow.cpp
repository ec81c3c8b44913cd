// Import in the manager window: the files' groups, passwords under a master
// password of their owner's, a batch that brings nothing new, and hostile files
// that must leave the window responsive.
#include "HostileFiles.h"
#include "ImportGroupForm.h"
#include "ManagerFixture.h"
#include "MessageBoxAnswers.h"
#include "DialogAnswers.h"
#include "ServerTransfer.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>

namespace {

QString dataFile(const QString &name)
{
    return QDir(QStringLiteral(BRENNIC_FORMATS_DATA)).filePath(name);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Answers the import dialog: the group, whether the files' groups are kept, a
// master password; confirms with the button. Keeps what the dialog offered.
DialogAnswers::Answer answerImport(const QString &group, bool keep, const QString &master, QString *shownMaster = nullptr)
{
    return [=](QDialog *w) {
        auto *dialog = qobject_cast<TfrmImportGroup *>(w);
        QVERIFY(dialog);
        if (shownMaster)
            *shownMaster = dialog->edtMaster->isVisible() ? dialog->lblMaster->text() : QString();
        dialog->cbbTarget->setCurrentText(group);
        dialog->chkKeepGroups->setChecked(keep);
        dialog->edtMaster->setText(master);
        dialog->btnBox->button(QDialogButtonBox::Ok)->click();
    };
}

// The largest gap between the ticks of a 20 ms timer while it lives.
class TickGaps {
public:
    TickGaps()
    {
        fTimer.setInterval(20);
        QObject::connect(&fTimer, &QTimer::timeout, [this] { fLongest = std::max(fLongest, fSince.restart()); });
        fSince.start();
        fTimer.start();
    }
    qint64 Longest() { return std::max(fLongest, fSince.elapsed()); }

private:
    QTimer fTimer;
    QElapsedTimer fSince;
    qint64 fLongest = 0;
};

} // namespace

class TestImportWindow : public QObject {
    Q_OBJECT

private slots:
    // 40,000 levels of groups, a named pipe and a link to /dev/zero, dropped at
    // once: one message that names each, nothing imported, and the window's event
    // loop never held up.
    void hostileFilesLeaveTheWindowResponsive()
    {
        ManagerFixture f(SmallCatalogue());
        QTemporaryDir dir;
        const QString rdg = dir.filePath(QStringLiteral("deep.rdg"));
        const QString confCons = dir.filePath(QStringLiteral("confCons.xml"));
        const QString fifo = dir.filePath(QStringLiteral("pipe.rdp"));
        const QString zero = dir.filePath(QStringLiteral("zero.rdg"));
        writeFile(rdg, HostileFiles::DeepRdg(40000));
        writeFile(confCons, HostileFiles::DeepConfCons(40000));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));

        MessageBoxAnswers boxes;
        DialogAnswers dialogs;
        TickGaps gaps;
        Child<TServerTransfer>(f.form)->ImportFiles({rdg, confCons, fifo, zero}, QStringLiteral("DB"));
        const qint64 longest = gaps.Longest();
        qInfo("longest gap of the 20 ms timer: %lld ms", longest);
        QVERIFY2(longest < 200, qPrintable(QString::number(longest)));
        QCOMPARE(dialogs.unanswered(), 0); // no group is asked for
        QCOMPARE(boxes.texts.size(), 1);
        const QString summary = boxes.texts[0];
        QVERIFY2(summary.startsWith(QStringLiteral("没有导入任何服务器。\n无法读取 4 个文件，其中的服务器都未导入：")), qPrintable(summary));
        for (const QString &part : {QStringLiteral("无法导入“deep.rdg”：分组嵌套超过 100 层"), QStringLiteral("无法导入“confCons.xml”：分组嵌套超过 100 层"),
                                    QStringLiteral("无法导入“pipe.rdp”：不是普通文件"), QStringLiteral("无法导入“zero.rdg”：不是普通文件")})
            QVERIFY2(summary.contains(part), qPrintable(part + QStringLiteral("\n---\n") + summary));
        QCOMPARE(f.rows(), SmallCatalogueRows());
    }

    // The first Return in the group's field imports: with the group offered as
    // the dialog opens, with a name typed, and with a name the field completed.
    void firstReturnImports_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("group");
        QTest::newRow("as offered") << ""
                                    << "DB";
        QTest::newRow("typed") << "Typed"
                               << "Typed";
        QTest::newRow("completed") << "W"
                                   << "Web";
    }

    void firstReturnImports()
    {
        QFETCH(QString, typed);
        QFETCH(QString, group);
        ManagerFixture f(SmallCatalogue());
        MessageBoxAnswers boxes;
        DialogAnswers dialogs([typed](QDialog *w) {
            auto *dialog = qobject_cast<TfrmImportGroup *>(w);
            QVERIFY(dialog);
            QLineEdit *field = dialog->cbbTarget->lineEdit();
            QTest::keyClicks(field, typed);
            QTest::keyClick(field, Qt::Key_Return);
        });
        Child<TServerTransfer>(f.form)->ImportFiles({dataFile(QStringLiteral("数据库.rdp"))}, QStringLiteral("DB"));
        QCOMPARE(dialogs.answered(), 1);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].startsWith(QStringLiteral("已导入 1 台服务器到组“%1”。").arg(group)), qPrintable(boxes.texts[0]));
        QVERIFY(f.rows().contains(QStringLiteral("  127.0.0.5|dba|数据库")));
    }

    // The files' groups come in as groups, by path, two of one name apart; a
    // second import of the same files asks nothing and names no group.
    void keepsTheFilesGroups()
    {
        ManagerFixture f(SmallCatalogue());
        MessageBoxAnswers boxes;
        {
            DialogAnswers dialogs(answerImport(QStringLiteral("DB"), true, QString()));
            Child<TServerTransfer>(f.form)->ImportFiles({dataFile(QStringLiteral("datacentre.rdg"))}, QStringLiteral("DB"));
            QCOMPARE(dialogs.answered(), 1);
        }
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].startsWith(QStringLiteral("已导入 3 台服务器到 2 个组：“北京机房 / 测试”、“北京机房 / 测试 (2)”。")), qPrintable(boxes.texts[0]));
        QCOMPARE(f.rows().mid(7), (QStringList{
                                      QStringLiteral("-北京机房 / 测试"),
                                      QStringLiteral("  127.0.0.51|bjadmin|测试库 — 只读副本 周五重启"),
                                      QStringLiteral("  127.0.0.52|bjadmin|没有显示名"),
                                      QStringLiteral("-北京机房 / 测试 (2)"),
                                      QStringLiteral("  127.0.0.53|bjadmin|另一个测试"),
                                  }));
        QVERIFY(f.comboEntries().contains(QStringLiteral("北京机房 / 测试 (2)")));
        QVERIFY(!f.comboEntries().contains(QStringLiteral("DB (2)")));

        boxes.Clear();
        DialogAnswers none;
        Child<TServerTransfer>(f.form)->ImportFiles({dataFile(QStringLiteral("datacentre.rdg"))}, QStringLiteral("DB"));
        QCOMPARE(none.unanswered(), 0);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].startsWith(QStringLiteral("文件中的服务器都已在列表中，没有导入新的服务器。\n未导入 4 项：")), qPrintable(boxes.texts[0]));
        QVERIFY(!boxes.texts[0].contains(QStringLiteral("DB")));
    }

    // Passwords sealed with a master password of the owner's: the dialog asks for
    // it; a wrong one is told and asked again; the right one opens them.
    void asksForTheMasterPassword()
    {
        ManagerFixture f(SmallCatalogue());
        MessageBoxAnswers boxes;
        QString firstOffer, secondOffer;
        DialogAnswers dialogs({answerImport(QStringLiteral("DB"), true, QStringLiteral("wrong"), &firstOffer),
                               answerImport(QStringLiteral("DB"), true, QStringLiteral("Kelp-42"), &secondOffer)});
        Child<TServerTransfer>(f.form)->ImportFiles({dataFile(QStringLiteral("confCons-custom-master.xml"))}, QStringLiteral("DB"));
        QCOMPARE(dialogs.answered(), 2);
        QVERIFY2(firstOffer.startsWith(QStringLiteral("有 2 个密码用 mRemoteNG 的自定义主密码加密")), qPrintable(firstOffer));
        QCOMPARE(secondOffer, firstOffer);
        QCOMPARE(boxes.texts.size(), 2);
        QCOMPARE(boxes.texts[0], QStringLiteral("主密码不对，没有解开任何密码。请重新输入，或留空不导入这些密码。"));
        QCOMPARE(boxes.texts[1], QStringLiteral("已导入 2 台服务器到组“上海”。"));
        QCOMPARE(GetSvrList().Items(4)->ClntSett.Password, QStringLiteral("f1ler-pw"));
        QCOMPARE(GetSvrList().Items(5)->ClntSett.Password, QStringLiteral("pr1nt-pw"));
    }

    // Left blank, the master password is not asked again: the servers come in
    // without those passwords, and the summary says so.
    void blankMasterPasswordImportsWithout()
    {
        ManagerFixture f(SmallCatalogue());
        MessageBoxAnswers boxes;
        DialogAnswers dialogs(answerImport(QStringLiteral("DB"), false, QString()));
        Child<TServerTransfer>(f.form)->ImportFiles({dataFile(QStringLiteral("confCons-custom-master.xml"))}, QStringLiteral("DB"));
        QCOMPARE(dialogs.answered(), 1);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].startsWith(QStringLiteral("已导入 2 台服务器到组“DB”。")), qPrintable(boxes.texts[0]));
        QVERIFY(boxes.texts[0].contains(QStringLiteral("文件服务器：密码用 mRemoteNG 的自定义主密码加密，未导入密码")));
        QCOMPARE(GetSvrList().Items(4)->ClntSett.Password, QString());
    }
};

QTEST_MAIN(TestImportWindow)
#include "tst_importwindow.moc"
