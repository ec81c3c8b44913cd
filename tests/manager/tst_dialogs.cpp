#include "CatalogueLimits.h"
#include "EditConflict.h"
#include "EditForm.h"
#include "GrpForm.h"
#include "MessageBoxAnswers.h"
#include "DialogAnswers.h"
#include "RdpConst.h"

#include <QCheckBox>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void addingStartsFromTheDefaults()
    {
        TClientSettings settings;
        QString description;
        QStringList seen;
        DialogAnswers answer([&](QDialog *w) {
            auto *d = qobject_cast<TfrmEdit *>(w);
            seen << d->windowTitle() << d->edtPort->text() << d->edtWidth->text() << d->edtHeight->text()
                 << d->cbbColors->currentText() << QString::number(d->chkFullScr->isChecked())
                 << QString::number(d->tbcSett->currentIndex()) << QString::number(d->grpConn->isVisible())
                 << QString::number(d->grpDisp->isVisible());
            d->reject();
        });
        QVERIFY(!EditServerSettings(nullptr, settings, description));
        QCOMPARE(seen, (QStringList{QStringLiteral("添加"), QStringLiteral("3389"), QStringLiteral("1024"), QStringLiteral("768"), QStringLiteral("True Color (24 bit)"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("0")}));
        QCOMPARE(settings, TClientSettings{});
    }

    void editingWritesBackWhatWasTyped()
    {
        TClientSettings settings;
        settings.Server = QStringLiteral("127.0.0.1");
        settings.Port = 3390;
        settings.User = QStringLiteral("u");
        settings.Password = QStringLiteral("p");
        settings.Width = 800;
        settings.Height = 600;
        settings.FullScreen = true;
        settings.ColorDepth = 12; // not among the five the dialog offers
        settings.Domain = QStringLiteral("CORP");
        QString description = QStringLiteral("d");
        bool sizesDisabled = false;
        int colourEntry = 0;
        DialogAnswers answer([&](QDialog *w) {
            auto *d = qobject_cast<TfrmEdit *>(w);
            QTRY_VERIFY_WITH_TIMEOUT(!d->edtWidth->isEnabled(), 1000);
            sizesDisabled = !d->edtHeight->isEnabled();
            colourEntry = d->cbbColors->currentIndex();
            d->edtUser->setText(QStringLiteral("  spaced user  "));
            d->edtPwd->setText(QStringLiteral(" p w "));
            QTest::mouseClick(d->btnOK, Qt::LeftButton);
        });
        QVERIFY(EditServerSettings(nullptr, settings, description));
        QVERIFY(sizesDisabled);
        QCOMPARE(colourEntry, -1);
        QCOMPARE(settings.User, QStringLiteral("spaced user"));
        QCOMPARE(settings.Password, QStringLiteral(" p w "));
        QCOMPARE(settings.Width, 800);
        QCOMPARE(settings.Height, 600);
        QCOMPARE(settings.ColorDepth, 12);
        QCOMPARE(settings.Domain, QStringLiteral("CORP"));
        QCOMPARE(settings.Port, 3390);
    }

    void choosingAColourStoresItsDepth()
    {
        TClientSettings settings;
        settings.Server = QStringLiteral("127.0.0.1");
        QString description;
        DialogAnswers answer([&](QDialog *w) {
            auto *d = qobject_cast<TfrmEdit *>(w);
            d->cbbColors->setCurrentIndex(1);
            d->edtPort->setText(QStringLiteral("007"));
            d->accept();
        });
        QVERIFY(EditServerSettings(nullptr, settings, description));
        QCOMPARE(settings.ColorDepth, ColorDepthValues[1]);
        QCOMPARE(settings.Port, 7);
    }

    void numberFieldsTakeDigitsOnly()
    {
        TfrmEdit dialog(nullptr);
        dialog.show();
        dialog.edtPort->clear();
        QTest::keyClicks(dialog.edtPort, QStringLiteral("3a3-8 9x"));
        QCOMPARE(dialog.edtPort->text(), QStringLiteral("3389"));
        QTest::keyClick(dialog.edtPort, Qt::Key_Backspace);
        QCOMPARE(dialog.edtPort->text(), QStringLiteral("338"));
        QTest::keyClicks(dialog.edtSvr, QStringLiteral("host-1.a"));
        QCOMPARE(dialog.edtSvr->text(), QStringLiteral("host-1.a"));
    }

    // No text field takes more than a shared catalogue stores, however the text comes in.
    void textFieldsTakeNoMoreThanTheCatalogueHolds()
    {
        TfrmEdit dialog(nullptr);
        TfrmGrpName group(nullptr);
        const QString tooLong = QStringLiteral("长").repeated(CatalogueTextLimit + 500);
        for (QLineEdit *field : {dialog.edtSvr, dialog.edtUser, dialog.edtPwd, dialog.edtDesc, group.edtGrp}) {
            field->clear();
            field->insert(tooLong);
            QCOMPARE(field->text().size(), CatalogueTextLimit);
            field->setText(tooLong);
            QCOMPARE(field->text().size(), CatalogueTextLimit);
            QTest::keyClicks(field, QStringLiteral("x"));
            QCOMPARE(field->text().size(), CatalogueTextLimit);
        }
    }

    // Keeping one's edits over a colleague's save keeps their changes to the fields
    // one did not touch; a field both changed takes one's own.
    void keepingMineLaysMyEditsOverTheColleagues()
    {
        TSvrItem opened;
        opened.ClntSett.Server = QStringLiteral("127.0.0.1");
        opened.Description = QStringLiteral("old");
        TSvrItem theirs = opened;
        theirs.ClntSett.Port = 3390;
        theirs.ClntSett.Server = QStringLiteral("127.0.0.2");
        theirs.Description = QStringLiteral("theirs");
        TClientSettings mine = opened.ClntSett;
        mine.Width = 1280;
        mine.Server = QStringLiteral("127.0.0.3");
        mine.Password = QStringLiteral("mine");
        QString description = opened.Description;
        QCOMPARE(ColleagueChanges(opened, theirs),
                 QStringLiteral("服务器：127.0.0.1 → 127.0.0.2\n端口：3389 → 3390\n备注：old → theirs"));
        KeepMineOnTop(opened, theirs, mine, description);
        QCOMPARE(mine.Port, 3390);
        QCOMPARE(mine.Width, 1280);
        QCOMPARE(mine.Server, QStringLiteral("127.0.0.3"));
        QCOMPARE(mine.Password, QStringLiteral("mine"));
        QCOMPARE(description, QStringLiteral("theirs"));
        QCOMPARE(ColleagueChanges(opened, opened), QString());
    }

    void blankAddressBringsTheConnectionTabBack()
    {
        TfrmEdit dialog(nullptr);
        dialog.show();
        dialog.edtSvr->setText(QStringLiteral("   "));
        dialog.tbcSett->setCurrentIndex(1);
        QVERIFY(dialog.grpDisp->isVisible());
        MessageBoxAnswers boxes;
        QTest::keyClick(dialog.edtWidth, Qt::Key_Return);
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("服务器空,请添加")});
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.tbcSett->currentIndex(), 0);
        QVERIFY(dialog.grpConn->isVisible());
        QVERIFY(!dialog.grpDisp->isVisible());
        QCOMPARE(dialog.focusWidget(), dialog.edtSvr);
        // Cancelling is never refused.
        QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    // The dialog opens with the cursor in the address field: what the user
    // types at once goes there.
    void settingsOpenWithTheCursorInTheAddress()
    {
        TClientSettings settings;
        QString description;
        QString focus;
        DialogAnswers answer([&](QDialog *w) {
            auto *d = qobject_cast<TfrmEdit *>(w);
            QVERIFY(QTest::qWaitForWindowActive(d));
            if (QApplication::focusWidget())
                focus = QApplication::focusWidget()->objectName();
            for (const char c : QByteArray("127.0.0.5"))
                QTest::keyClick(d->windowHandle(), c);
            d->edtUser->setText(QStringLiteral("u"));
            QTest::keyClick(d->windowHandle(), Qt::Key_Return);
        });
        QVERIFY(EditServerSettings(nullptr, settings, description));
        QCOMPARE(focus, QStringLiteral("edtSvr"));
        QCOMPARE(settings.Server, QStringLiteral("127.0.0.5"));
    }

    // Escape cancels both dialogs and keeps what the caller passed in.
    void escapeCancels()
    {
        TClientSettings settings;
        settings.Server = QStringLiteral("127.0.0.1");
        settings.User = QStringLiteral("u");
        QString description = QStringLiteral("d");
        {
            DialogAnswers answer([&](QDialog *w) {
                auto *d = qobject_cast<TfrmEdit *>(w);
                d->edtUser->setText(QStringLiteral("changed"));
                QTest::keyClick(d->edtUser, Qt::Key_Escape);
            });
            QVERIFY(!EditServerSettings(nullptr, settings, description));
            QVERIFY(answer.answered());
        }
        QCOMPARE(settings.User, QStringLiteral("u"));
        QString name = QStringLiteral("Web");
        {
            DialogAnswers answer([&](QDialog *w) {
                auto *d = qobject_cast<TfrmGrpName *>(w);
                QTest::keyClicks(d->edtGrp, QStringLiteral("Ops"));
                QTest::keyClick(d->edtGrp, Qt::Key_Escape);
            });
            QVERIFY(!AskGroupName(nullptr, name));
            QVERIFY(answer.answered());
        }
        QCOMPARE(name, QStringLiteral("Web"));
    }

    // Enter presses the focused button: on "取消" it cancels; back in a field it confirms.
    void enterPressesTheFocusedButton_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("saved");
        QTest::newRow("cancel") << "btnCancel" << false;
        QTest::newRow("ok") << "btnOK" << true;
        QTest::newRow("field after cancel") << "btnCancel,edtDesc" << true;
    }
    void enterPressesTheFocusedButton()
    {
        QFETCH(QString, focus);
        QFETCH(bool, saved);
        TClientSettings settings;
        settings.Server = QStringLiteral("127.0.0.1");
        settings.User = QStringLiteral("u");
        QString description;
        DialogAnswers answer([&](QDialog *w) {
            auto *d = qobject_cast<TfrmEdit *>(w);
            QVERIFY(QTest::qWaitForWindowActive(d));
            d->edtUser->setText(QStringLiteral("typed"));
            for (const QString &name : focus.split(QLatin1Char(',')))
                d->findChild<QWidget *>(name)->setFocus(Qt::TabFocusReason);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            if (d->isVisible())
                d->reject(); // leaves the test, whatever went wrong
        });
        QCOMPARE(EditServerSettings(nullptr, settings, description), saved);
        QCOMPARE(settings.User, saved ? QStringLiteral("typed") : QStringLiteral("u"));
    }

    // Port, width and height stay numeric whichever way text comes in.
    void numberFieldsRefuseTextFromEveryInput()
    {
        TfrmEdit dialog(nullptr);
        dialog.show();
        for (QLineEdit *field : {dialog.edtPort, dialog.edtWidth, dialog.edtHeight}) {
            const QString before = field->text();
            field->setFocus();
            field->end(false);
            QInputMethodEvent composing(QStringLiteral("duan"), {});
            QApplication::sendEvent(field, &composing);
            QInputMethodEvent committed;
            committed.setCommitString(QStringLiteral("端口abc"));
            QApplication::sendEvent(field, &committed);
            QCOMPARE(field->text(), before);
            QInputMethodEvent digits;
            digits.setCommitString(QStringLiteral("12"));
            QApplication::sendEvent(field, &digits);
            QCOMPARE(field->text(), before + QStringLiteral("12"));

            QApplication::clipboard()->setText(QStringLiteral("80x"));
            field->selectAll();
            field->paste();
            QCOMPARE(field->text(), before + QStringLiteral("12"));
            QApplication::clipboard()->setText(QStringLiteral("８０")); // full-width digits are no number either
            field->paste();
            QCOMPARE(field->text(), before + QStringLiteral("12"));
        }
    }

    // A server field the RDP library would not take as an address, or a port
    // outside 1-65535, refuses OK with a message and the focus on the field.
    void unusableServerOrPortRefusesOk_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message"); // its start, empty when OK is taken
        QTest::addColumn<QString>("field");
        QTest::newRow("pipe") << "|"
                              << "3" << QStringLiteral("无效的服务器地址: |\n") << "edtSvr";
        QTest::newRow("socket path") << "/tmp/socket"
                                     << "3389" << QStringLiteral("无效的服务器地址: /tmp/socket\n") << "edtSvr";
        QTest::newRow("port 0") << "127.0.0.1"
                                << "0" << QStringLiteral("无效的端口: 0\n") << "edtPort";
        QTest::newRow("port 65536") << "127.0.0.1"
                                    << "65536" << QStringLiteral("无效的端口: 65536\n") << "edtPort";
        QTest::newRow("port 65535") << "127.0.0.1"
                                    << "65535" << QString() << QString();
        QTest::newRow("port 1") << "127.0.0.1"
                                << "1" << QString() << QString();
    }

    void unusableServerOrPortRefusesOk()
    {
        QFETCH(QString, server);
        QFETCH(QString, port);
        QFETCH(QString, message);
        QFETCH(QString, field);
        TfrmEdit dialog(nullptr);
        dialog.show();
        dialog.edtSvr->setText(server);
        dialog.edtPort->setText(port);
        dialog.tbcSett->setCurrentIndex(1);
        MessageBoxAnswers boxes;
        QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
        if (message.isEmpty()) {
            QCOMPARE(boxes.texts, QStringList());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            return;
        }
        QCOMPARE(boxes.texts.size(), 1);
        const QString shown = boxes.texts[0];
        QVERIFY2(shown.startsWith(message), qPrintable(shown));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.tbcSett->currentIndex(), 0);
        QCOMPARE(dialog.focusWidget()->objectName(), field);
        QCOMPARE(dialog.edtSvr->text(), server); // what was typed stays
    }

    void groupNameDialog_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("typed"); // "<close>" closes with the close box
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QString>("result");
        QTest::newRow("confirm at once") << "Web"
                                         << "" << true << "Web";
        QTest::newRow("typing replaces") << "Web"
                                         << "Front end " << true << "Front end ";
        QTest::newRow("empty") << ""
                               << "" << true << "";
        QTest::newRow("close box") << "Web"
                                   << "<close>" << false << "Web";
    }
    void groupNameDialog()
    {
        QFETCH(QString, start);
        QFETCH(QString, typed);
        QFETCH(bool, confirmed);
        QFETCH(QString, result);
        QString name = start;
        QString title;
        DialogAnswers answer([&](QDialog *w) {
            auto *d = qobject_cast<TfrmGrpName *>(w);
            title = d->windowTitle();
            if (typed == QStringLiteral("<close>")) {
                d->close();
                return;
            }
            if (!typed.isEmpty())
                QTest::keyClicks(d->edtGrp, typed); // the start text is selected: typing replaces it
            QTest::keyClick(d->edtGrp, Qt::Key_Return);
        });
        QCOMPARE(AskGroupName(nullptr, name), confirmed);
        QCOMPARE(name, result);
        QCOMPARE(title, QStringLiteral("编辑"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
