// Message boxes by style flags, and widgets found by their window handle.
#include "AppError.h"
#include "MessageBoxAnswers.h"
#include "SrsFunction.h"

#include <QTest>
#include <QWidget>
#include <memory>

class TestSrsFunction : public QObject {
    Q_OBJECT
private slots:
    void showMsgBox_data();
    void showMsgBox();
    void handlesFindTheirWidgets();
    void handlesOfDestroyedWidgetsFindNothing();
};

using Buttons = QMessageBox::StandardButtons;
Q_DECLARE_METATYPE(QMessageBox::Icon)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

void TestSrsFunction::showMsgBox_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<Buttons>("buttons");
    QTest::addColumn<QMessageBox::StandardButton>("press");
    QTest::addColumn<int>("result");
    using B = QMessageBox;
    QTest::newRow("bare OK gets the information icon") << 0x00 << B::Information << Buttons(B::Ok) << B::Ok << 1;
    QTest::newRow("OK Cancel gets a question") << 0x01 << B::Question << (B::Ok | B::Cancel) << B::Cancel << 2;
    QTest::newRow("Abort Retry Ignore") << 0x02 << B::Question << (B::Abort | B::Retry | B::Ignore) << B::Ignore << 5;
    QTest::newRow("Yes No Cancel") << 0x03 << B::Question << (B::Yes | B::No | B::Cancel) << B::No << 7;
    QTest::newRow("Yes No") << 0x04 << B::Question << (B::Yes | B::No) << B::Yes << 6;
    QTest::newRow("Retry Cancel") << 0x05 << B::Question << (B::Retry | B::Cancel) << B::Retry << 4;
    QTest::newRow("question Yes No as given") << 0x24 << B::Question << (B::Yes | B::No) << B::No << 7;
    QTest::newRow("warning OK as given") << 0x30 << B::Warning << Buttons(B::Ok) << B::Ok << 1;
    QTest::newRow("error OK Cancel as given") << 0x11 << B::Critical << (B::Ok | B::Cancel) << B::Ok << 1;
    QTest::newRow("information Yes No as given") << 0x44 << B::Information << (B::Yes | B::No) << B::Yes << 6;
}

void TestSrsFunction::showMsgBox()
{
    QFETCH(int, flags);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(Buttons, buttons);
    QFETCH(QMessageBox::StandardButton, press);
    QFETCH(int, result);

    MessageBoxAnswers driver(press);
    const int answer = ShowMsgBox(QStringLiteral("第一行\r\n\r\n第二行"), quint16(flags));

    QCOMPARE(answer, result);
    QCOMPARE(driver.boxes.size(), 1);
    const MessageBoxAnswers::Box &box = driver.boxes.first();
    QCOMPARE(box.title, AppTitle());
    QCOMPARE(box.title, QStringLiteral("tst_srsfunction")); // first character as it is
    QCOMPARE(box.text, QStringLiteral("第一行\r\n\r\n第二行"));
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.buttons, buttons);
}

void TestSrsFunction::handlesFindTheirWidgets()
{
    QWidget first;
    QWidget second;
    const TWindowHandle a = HandleOf(&first);
    const TWindowHandle b = HandleOf(&second);
    QVERIFY(a != 0);
    QVERIFY(a != b);
    QCOMPARE(HandleOf(&first), a);
    QCOMPARE(ControlFromHandle(a), &first);
    QCOMPARE(ControlFromHandle(b), &second);
    QCOMPARE(ControlFromHandle(0), nullptr);
    QCOMPARE(ControlFromHandle(a + b), nullptr);
    QCOMPARE(HandleOf(nullptr), TWindowHandle(0));
}

void TestSrsFunction::handlesOfDestroyedWidgetsFindNothing()
{
    auto widget = std::make_unique<QWidget>();
    const TWindowHandle handle = HandleOf(widget.get());
    QCOMPARE(ControlFromHandle(handle), widget.get());
    widget.reset();
    QCOMPARE(ControlFromHandle(handle), nullptr);
    QWidget later;
    QVERIFY(HandleOf(&later) != handle);
}

QTEST_MAIN(TestSrsFunction)
#include "tst_srsfunction.moc"
