// The program as a newcomer meets it: the keys start in the server list, the
// shortcuts the window advertises work at once, a new tab's address box is empty,
// and a page's alert() holds its own tab only.
#include "Main.h"
#include "ManagerHost.h"
#include "MgmtForm.h"
#include "DialogAnswers.h"
#include "manager/FormChild.h"
#include "PageControl.h"
#include "PageDialog.h"
#include "PageServer.h"
#include "RdpCommon.h"
#include "ServerFind.h"
#include "ShellSettings.h"
#include "TabSheet.h"
#include "WebBrowser.h"
#include "PageView.h"
#include "WebTestMain.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEngineView>

class TestFirstStart : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void keysStartInTheServerList();
    void managerTabTakesTheKeysBack();
    void ctrlTEmptiesTheAddressBox();
    void alertHoldsItsTabOnly();
    void tabWithAnOpenAlertCloses();

private:
    void start(const QString &defaultPage);
    TPageControl *tabs() const { return window_->findChild<TPageControl *>(QStringLiteral("PageControlMain")); }
    QLineEdit *address() const { return window_->findChild<QLineEdit *>(QStringLiteral("EditUrl")); }
    WebBrowser *browserAt(int position) const { return tabs()->widget(position)->findChild<WebBrowser *>(); }
    void press(int position);
    // A box of a page that waits for its answer, shown or in a tab not shown.
    TPageDialog *openBox() const;
    // Starts with the alert page in tab 1 and runs check once its box is open. The
    // page waits for the answer inside a call of its own, in which the window goes
    // on handling events: check runs there, as the user's gestures do, and the box
    // is answered after it if check has not.
    void whenTheAlertOpens(const std::function<void(TPageDialog *)> &check);

    QTemporaryDir dir_;
    PageServer *server_ = nullptr;
    std::unique_ptr<TFormMain> window_;
    std::unique_ptr<QWidget> manager_;
    TfrmMgmt *mgmt_ = nullptr;
    QDateTime now_;
};

void TestFirstStart::init()
{
    QFile::remove(SettingsFilePath());
    const QString file = dir_.filePath(QStringLiteral("SvrList.ini"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("[MISC]\nMaxGroupID=1\nMaxServerId=1\n[GroupItem1]\nGroupName=Web\n"
              "[ServerItem1]\nGroupId=1\nServer=127.0.0.1\nUser=web1\nPassword=\nDescription=first\n");
    out.close();
    UseIniFile(file);
    server_ = new PageServer;
    now_ = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
}

void TestFirstStart::cleanup()
{
    ReleaseWebPages();
    manager_.reset();
    window_.reset();
    ReleaseCatalogue();
    delete server_;
    server_ = nullptr;
}

void TestFirstStart::start(const QString &defaultPage)
{
    window_ = std::make_unique<TFormMain>(defaultPage);
    window_->SetClock([this] { return now_; });
    manager_ = CreateManagerWindow();
    mgmt_ = qobject_cast<TfrmMgmt *>(manager_.get());
    QVERIFY(mgmt_);
    window_->SetManager(manager_.get());
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

// One press on the tab strip, long after the previous one (no double press).
void TestFirstStart::press(int position)
{
    now_ = now_.addSecs(1);
    QTabBar *bar = tabs()->TabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(position).center());
}

TPageDialog *TestFirstStart::openBox() const
{
    for (TPageDialog *box : window_->findChildren<TPageDialog *>())
        if (!box->isHidden())
            return box;
    return nullptr;
}

void TestFirstStart::whenTheAlertOpens(const std::function<void(TPageDialog *)> &check)
{
    server_->page(QStringLiteral("/alert"),
                  "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Before</title></head><body>"
                  "<script>alert('来自网页的消息'); document.title = 'After';</script></body></html>");
    bool ran = false;
    DialogSeam::Hook previous = DialogSeam::SetHook([&](QDialog *dialog) {
        auto *box = qobject_cast<TPageDialog *>(dialog);
        if (ran || !box)
            return;
        ran = true;
        const QPointer<TPageDialog> open(box);
        check(box);
        if (open && !open->isHidden())
            open->reject();
    });
    const auto restore = qScopeGuard([&previous] { DialogSeam::SetHook(std::move(previous)); });
    start(server_->url(QStringLiteral("/alert")));
    QTRY_VERIFY_WITH_TIMEOUT(ran, 15000);
}

void TestFirstStart::keysStartInTheServerList()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    start(server_->url(QStringLiteral("/a")));
    QCOMPARE(tabs()->currentIndex(), 0);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(Child<QWidget>(mgmt_, "lvSvr")));

    // Typing lands in the list, not in the address box.
    const QString shown = address()->text();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("127"));
    QCOMPARE(address()->text(), shown);

    // The find box's hint names Ctrl+F, and Ctrl+F goes there.
    QVERIFY(Child<TServerFind>(mgmt_)->edtFind->placeholderText().contains(QStringLiteral("Ctrl+F")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(Child<TServerFind>(mgmt_)->edtFind));

    // Ctrl+N adds a server: its dialog opens (and is cancelled here).
    Child<QWidget>(mgmt_, "lvSvr")->setFocus();
    QString opened;
    DialogAnswers cancel([&opened](QDialog *dialog) {
        opened = QString::fromLatin1(dialog->metaObject()->className());
        if (auto *d = qobject_cast<QDialog *>(dialog))
            d->reject();
    });
    QTest::keyClick(Child<QWidget>(mgmt_, "lvSvr"), Qt::Key_N, Qt::ControlModifier);
    QTRY_COMPARE(cancel.answered(), 1);
    QCOMPARE(opened, QStringLiteral("TfrmEdit"));
}

void TestFirstStart::managerTabTakesTheKeysBack()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    start(server_->url(QStringLiteral("/a")));
    press(1);
    QCOMPARE(tabs()->currentIndex(), 1);
    address()->setFocus();
    press(0);
    QCOMPARE(tabs()->currentIndex(), 0);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(Child<QWidget>(mgmt_, "lvSvr")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(Child<TServerFind>(mgmt_)->edtFind));
}

void TestFirstStart::ctrlTEmptiesTheAddressBox()
{
    server_->titled(QStringLiteral("/a"), QStringLiteral("Alpha"));
    start(server_->url(QStringLiteral("/a")));
    QSignalSpy completed(browserAt(1), &WebBrowser::DocumentComplete);
    QVERIFY(completed.wait(10000));
    QCOMPARE(address()->text(), server_->url(QStringLiteral("/a")));
    for (QWidget *from : {static_cast<QWidget *>(Child<QWidget>(mgmt_, "lvSvr")), static_cast<QWidget *>(address())}) {
        address()->setText(server_->url(QStringLiteral("/a")));
        from->setFocus();
        const int before = tabs()->count();
        QTest::keyClick(from, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(tabs()->count(), before + 1);
        QCOMPARE(tabs()->currentIndex(), before - 1);
        QCOMPARE(address()->text(), QString());
        QTRY_VERIFY(address()->hasFocus());
    }
}

void TestFirstStart::alertHoldsItsTabOnly()
{
    bool answered = false;
    whenTheAlertOpens([&](TPageDialog *box) {
        QCOMPARE(box->findChild<QLabel *>(QStringLiteral("lblMessage"))->text(), QStringLiteral("来自网页的消息"));
        // The box lies over its page, inside the window; nothing is modal.
        QVERIFY(!box->isWindow());
        QVERIFY(browserAt(1)->isAncestorOf(box));
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(!PageView(browserAt(1))->isEnabled());
        // It waits with its tab: the manager's tab is current, and usable.
        QCOMPARE(tabs()->currentIndex(), 0);
        QVERIFY(!box->isVisible());
        Child<QWidget>(mgmt_, "lvSvr")->setFocus();
        QTest::keyClick(Child<QWidget>(mgmt_, "lvSvr"), Qt::Key_F, Qt::ControlModifier);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(Child<TServerFind>(mgmt_)->edtFind));
        QTest::keyClicks(Child<TServerFind>(mgmt_)->edtFind, QStringLiteral("web1"));
        QCOMPARE(Child<TServerFind>(mgmt_)->edtFind->text(), QStringLiteral("web1"));
        // Shown with its tab, and back to the manager and again.
        press(1);
        QTRY_VERIFY(box->isVisible());
        press(0);
        QCOMPARE(tabs()->currentIndex(), 0);
        QVERIFY(!box->isVisible());
        press(1);
        QTRY_VERIFY(box->isVisible());
        box->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        answered = true;
    });
    QVERIFY(answered);
    // Answered, the page goes on.
    QTRY_COMPARE_WITH_TIMEOUT(tabs()->tabText(1), QStringLiteral("After"), 10000);
    QVERIFY(PageView(browserAt(1))->isEnabled());
    QVERIFY(!openBox());
}

// Closing the tab while its page waits for the box's answer: the box is answered,
// then the tab goes; the rest of the window is unharmed.
void TestFirstStart::tabWithAnOpenAlertCloses()
{
    int before = 0;
    whenTheAlertOpens([&](TPageDialog *box) {
        press(1);
        before = tabs()->count();
        QWidget *focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : window_.get(), Qt::Key_W, Qt::ControlModifier);
        // The box is answered for the user; the tab stays while the page still waits.
        QTRY_VERIFY(box->isHidden());
        QCOMPARE(tabs()->count(), before);
    });
    QVERIFY(before > 0);
    QTRY_COMPARE_WITH_TIMEOUT(tabs()->count(), before - 1, 10000);
    QVERIFY(!openBox());
    QCOMPARE(tabs()->currentIndex(), 0);
    press(tabs()->count() - 1); // "+" still opens a tab
    QCOMPARE(tabs()->count(), before);
}

BRENNIC_WEB_TEST_MAIN(TestFirstStart)
#include "tst_firststart.moc"
