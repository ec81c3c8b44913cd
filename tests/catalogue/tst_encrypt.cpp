#include "AppError.h"
#include "Encrypt.h"

#include <QRegularExpression>
#include <QTest>

class TestEncrypt : public QObject {
    Q_OBJECT

private slots:
    void knownForms_data()
    {
        QTest::addColumn<QString>("clear");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("empty") << QString() << QString();
        // Nine characters: the first key byte serves the first and the ninth.
        QTest::newRow("nine") << QStringLiteral("P@ssw0rd!") << QStringLiteral("0E8364DB7CC216BD7F");
        QTest::newRow("eight") << QStringLiteral("secret99") << QStringLiteral("2DA674DA6E865DE0");
        QTest::newRow("fifteen") << QStringLiteral("longpassword123") << QStringLiteral("32AC79CF7B9317AA29AC65CC3AC057");
        QTest::newRow("latin1") << QStringLiteral("é\u00ff") << QStringLiteral("B73C");
    }
    void knownForms()
    {
        QFETCH(QString, clear);
        QFETCH(QString, encoded);
        QCOMPARE(EncryptStr(clear), encoded);
        QCOMPARE(DecryptStr(encoded), clear);
    }

    void narrowFormIsTwoUpperHexDigitsPerCharacter()
    {
        const QString clear = QStringLiteral("Zz 09~\u00a0\u00ff");
        const QString encoded = EncryptStr(clear);
        QCOMPARE(encoded.size(), clear.size() * 2);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]*$")).match(encoded).hasMatch());
        QCOMPARE(EncryptStr(clear), encoded);
    }

    void lowerCaseDecodesAlike()
    {
        QCOMPARE(DecryptStr(QStringLiteral("0e8364db7cc216bd7f")), QStringLiteral("P@ssw0rd!"));
    }

    void oddLengthIgnoresLastCharacter()
    {
        QCOMPARE(DecryptStr(QStringLiteral("3FA1747")), QStringLiteral("abc"));
        QCOMPARE(DecryptStr(QStringLiteral("3")), QString());
    }

    // Characters beyond Latin-1 must come back exactly as typed.
    void widePasswordsRoundTrip_data()
    {
        QTest::addColumn<QString>("clear");
        QTest::newRow("chinese") << QStringLiteral("密码Pa55");
        QTest::newRow("emoji surrogates") << QStringLiteral("x😀y");
        QTest::newRow("low byte collides") << QStringLiteral("\u0141\u0041");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800));
    }
    void widePasswordsRoundTrip()
    {
        QFETCH(QString, clear);
        const QString encoded = EncryptStr(clear);
        QVERIFY(encoded.startsWith(QStringLiteral("U16:")));
        QVERIFY(!encoded.contains(clear));
        QCOMPARE(DecryptStr(encoded), clear);
    }

    void badPairsFail_data()
    {
        QTest::addColumn<QString>("encoded");
        QTest::addColumn<QString>("message");
        QTest::newRow("letter beyond F") << QStringLiteral("3FG1") << QStringLiteral("''$G1'' is not a valid integer value");
        QTest::newRow("blank") << QStringLiteral(" 3") << QStringLiteral("''$ 3'' is not a valid integer value");
        QTest::newRow("sign") << QStringLiteral("-1") << QStringLiteral("''$-1'' is not a valid integer value");
        QTest::newRow("wide form") << QStringLiteral("U16:00ZZ") << QStringLiteral("''$ZZ'' is not a valid integer value");
    }
    void badPairsFail()
    {
        QFETCH(QString, encoded);
        QFETCH(QString, message);
        try {
            DecryptStr(encoded);
            QFAIL("no error");
        } catch (const EConvertError &error) {
            QCOMPARE(error.message(), message);
        }
    }
};

QTEST_GUILESS_MAIN(TestEncrypt)
#include "tst_encrypt.moc"
