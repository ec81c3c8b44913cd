// Every text the program shows is Chinese: the texts given to the calls that put
// words on the screen (captions, labels, tips, message boxes, errors) are checked
// in every source file. A text with no Chinese character in it is a mistake unless
// it is one of the few fixed English texts or made only of product and protocol
// names, keys and numbers. Object names, settings keys, SQL and file names go to
// other calls and are not looked at.
#include "ChineseTexts.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>

class TestChineseTexts : public QObject {
    Q_OBJECT
private slots:
    // The check itself, on small pieces of code.
    void check_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("english");
        for (const CheckCase &c : CheckCases())
            QTest::newRow(c.name) << c.code << c.english;
    }
    void check()
    {
        QFETCH(QString, code);
        QFETCH(QStringList, english);
        QCOMPARE(EnglishTexts(code), english);
    }

    // And on the program's sources.
    void everyShownTextIsChinese()
    {
        const QString root = QStringLiteral(BRENNIC_SOURCE_DIR "/src");
        QStringList found;
        int files = 0;
        QDirIterator it(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            ++files;
            for (const QString &text : EnglishTexts(QString::fromUtf8(file.readAll())))
                found << path.mid(root.size() + 1) + QStringLiteral(": ") + text;
        }
        QVERIFY2(files > 50, qPrintable(QString::number(files)));
        QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("\n") + found.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestChineseTexts)
#include "tst_chinesetexts.moc"
