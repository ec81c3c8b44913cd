// Passwords in the desktop keyring, against a real Secret Service (GNOME keyring in
// a private D-Bus session); built a second time against a bus where no keyring runs.
#include "Catalogue.h"
#include "IniStore.h"
#include "Keyring.h"
#include "KeyringMove.h"
#include "KeyringOption.h"
#include "KeyringSaver.h"
#include "LocalPasswords.h"
#include "PasswordFields.h"
#include "SecretService.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

namespace {

constexpr int kWaitMs = 20000; // the longest any request may take here

[[maybe_unused]] QByteArray fileBytes(const QString &text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return bytes;
}

[[maybe_unused]] QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

[[maybe_unused]] void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A server list file as another program left it: its own spacing and comments, CRLF
// lines, three servers with passwords (encoded) and one without.
[[maybe_unused]] QString handWrittenList()
{
    return QStringLiteral("; 服务器列表\r\n"
                          "[MISC]\r\nMaxGroupID=0\r\nMaxServerId=4\r\n\r\n"
                          "[ServerItem1]\r\nGroupId=-1\r\nDescription=第一台\r\nServer=10.0.0.1\r\nPort=3389\r\n"
                          "Domain=\r\nUser=admin\r\nPassword=2FA264DB\r\nWidth=1024\r\nHeight=768\r\n"
                          "FullScreen=0\r\nColorDeepth=24\r\n\r\n"
                          "[ServerItem2]\r\nServer=10.0.0.2\r\nUser=root\r\nPassword=3DAC78DC6ECD\r\n\r\n"
                          "[ServerItem3]\r\nServer=10.0.0.3\r\nUser=x\r\nPassword=\r\n\r\n"
                          "[ServerItem4]\r\nServer=10.0.0.4\r\nPassword=6FF124\r\nUser=y\r\n");
}

// The same file with every Password value emptied and nothing else changed.
[[maybe_unused]] QString withoutPasswords(QString text)
{
    return text.replace(QRegularExpression(QStringLiteral("Password=[0-9A-F]*\r\n")), QStringLiteral("Password=\r\n"));
}

// The catalogue of a file, with the local password file a shared catalogue would have.
class LocalPasswordStore : public IniStore {
public:
    LocalPasswordStore(const QString &list, const QString &passwords) : IniStore(list), passwords_(passwords) {}
    QString passwordFile() override { return passwords_; }

private:
    QString passwords_;
};

} // namespace

class tst_Keyring : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
#ifndef BRENNIC_NO_KEYRING
    void storeReadChange();
    void savedPasswordsGoToKeyring();
    void optionOffKeepsFile();
    void moveAllAndBack();
    void localPasswordsFollow();
    void connectReadsKeyring();
#else
    void noKeyringNoticeOnce();
#endif

private:
    KeyringAnswer ask(const std::function<void(Keyring::Answer)> &request);
    KeyringMoveReport run(const std::function<void(KeyringMove &)> &start);
    Catalogue &install(std::unique_ptr<CatalogueStore> store);

    SecretService service_;
    QTemporaryDir dir_;
    std::unique_ptr<Keyring> keyring_;
};

void tst_Keyring::initTestCase()
{
    if (const QString missing = SecretService::Missing(); !missing.isEmpty())
        QSKIP(qPrintable(missing));
#ifdef BRENNIC_NO_KEYRING
    const bool withKeyring = false;
#else
    const bool withKeyring = true;
#endif
    QVERIFY2(service_.start(withKeyring), qPrintable(service_.error()));
    QVERIFY(dir_.isValid());
    keyring_ = std::make_unique<Keyring>(nullptr, kWaitMs / 2);
}

void tst_Keyring::cleanup()
{
    // Every request answered before the next test: none is left to reach a later one.
    QTRY_COMPARE_WITH_TIMEOUT(keyring_->pending(), 0, kWaitMs);
    Catalogue::ReleaseCurrent();
    SetPasswordsInKeyring(false);
}

KeyringAnswer tst_Keyring::ask(const std::function<void(Keyring::Answer)> &request)
{
    std::optional<KeyringAnswer> got;
    request([&got](const KeyringAnswer &answer) { got = answer; });
    if (!QTest::qWaitFor([&] { return got.has_value(); }, kWaitMs))
        return KeyringAnswer{false, false, false, {}, QStringLiteral("no answer in time")};
    return *got;
}

KeyringMoveReport tst_Keyring::run(const std::function<void(KeyringMove &)> &start)
{
    KeyringMove move(Catalogue::Current(), *keyring_);
    QSignalSpy finished(&move, &KeyringMove::finished);
    start(move);
    if (finished.isEmpty() && !finished.wait(kWaitMs * 2))
        return KeyringMoveReport{true, -1, {QStringLiteral("the move did not finish")}, false};
    return finished.takeFirst().at(0).value<KeyringMoveReport>();
}

Catalogue &tst_Keyring::install(std::unique_ptr<CatalogueStore> store)
{
    Catalogue::Install(std::make_unique<Catalogue>(std::move(store)));
    Catalogue &catalogue = Catalogue::Current();
    catalogue.LoadGroups();
    catalogue.LoadServers();
    return catalogue;
}

#ifndef BRENNIC_NO_KEYRING

void tst_Keyring::storeReadChange()
{
    const QString key = QStringLiteral("test#store");
    auto stored = ask([&](auto answer) { keyring_->write(key, QStringLiteral("密码 one"), answer); });
    QVERIFY2(stored.ok, qPrintable(stored.error));
    auto read = ask([&](auto answer) { keyring_->read(key, answer); });
    QVERIFY2(read.ok, qPrintable(read.error));
    QCOMPARE(read.password, QStringLiteral("密码 one"));

    QVERIFY(ask([&](auto answer) { keyring_->write(key, QStringLiteral("two"), answer); }).ok);
    QCOMPARE(ask([&](auto answer) { keyring_->read(key, answer); }).password, QStringLiteral("two"));

    QVERIFY(ask([&](auto answer) { keyring_->remove(key, answer); }).ok);
    read = ask([&](auto answer) { keyring_->read(key, answer); });
    QVERIFY(!read.ok && read.missing && !read.unavailable);
    QVERIFY(!keyring_->knownUnavailable());
}

void tst_Keyring::savedPasswordsGoToKeyring()
{
    const QString path = dir_.filePath(QStringLiteral("saved.ini"));
    Catalogue &catalogue = install(std::make_unique<IniStore>(path));
    SetPasswordsInKeyring(true);
    KeyringSaver saver(*keyring_);
    const auto fields = PasswordFields::Of(catalogue);

    TClientSettings settings;
    settings.Server = QStringLiteral("host-a");
    settings.User = QStringLiteral("admin");
    settings.Password = QStringLiteral("first");
    const int id = catalogue.AddSvrItem(settings, UngroupedId, {})->Id;
    QTRY_VERIFY_WITH_TIMEOUT(saver.idle(), kWaitMs);
    QVERIFY(!fields->read().contains(id));
    QVERIFY(readAll(path).contains(fileBytes(QStringLiteral("Password=\r\n")).mid(2)));
    QCOMPARE(catalogue.GetSvrItem(id)->ClntSett.Password, QString());
    QCOMPARE(ask([&](auto answer) { keyring_->read(fields->keyOf(id), answer); }).password, QStringLiteral("first"));

    // Changed: the keyring takes the new one. Renamed with the password field left
    // empty, as the settings dialog shows it: the entry stays.
    settings.Password = QStringLiteral("second");
    catalogue.UpdateSvrItem(id, settings, {});
    QTRY_VERIFY_WITH_TIMEOUT(saver.idle(), kWaitMs);
    settings.Server = QStringLiteral("host-a-renamed");
    settings.Password.clear();
    catalogue.UpdateSvrItem(id, settings, QStringLiteral("moved"));
    QTRY_VERIFY_WITH_TIMEOUT(saver.idle(), kWaitMs);
    QVERIFY(!fields->read().contains(id));
    QCOMPARE(ask([&](auto answer) { keyring_->read(fields->keyOf(id), answer); }).password, QStringLiteral("second"));
}

void tst_Keyring::optionOffKeepsFile()
{
    const QString path = dir_.filePath(QStringLiteral("off.ini"));
    Catalogue &catalogue = install(std::make_unique<IniStore>(path));
    KeyringSaver saver(*keyring_);
    TClientSettings settings;
    settings.Server = QStringLiteral("host-b");
    settings.Password = QStringLiteral("stays");
    const int id = catalogue.AddSvrItem(settings, UngroupedId, {})->Id;
    QTRY_VERIFY_WITH_TIMEOUT(saver.idle(), kWaitMs);
    const auto fields = PasswordFields::Of(catalogue);
    QCOMPARE(fields->read().value(id), QStringLiteral("stays"));
    QVERIFY(ask([&](auto answer) { keyring_->read(fields->keyOf(id), answer); }).missing);
}

void tst_Keyring::moveAllAndBack()
{
    const QString path = dir_.filePath(QStringLiteral("moved.ini"));
    const QString original = handWrittenList();
    writeAll(path, fileBytes(original));
    Catalogue &catalogue = install(std::make_unique<IniStore>(path));
    const auto fields = PasswordFields::Of(catalogue);
    const QHash<int, QString> before = fields->read();
    QCOMPARE(before.size(), 3);

    const KeyringMoveReport in = run([](KeyringMove &move) { move.allIntoKeyring(); });
    QVERIFY2(in.failed.isEmpty(), qPrintable(in.failed.join(QLatin1Char('\n'))));
    QCOMPARE(in.moved, 3);
    QVERIFY(!in.unavailable);
    QCOMPARE(readAll(path), fileBytes(withoutPasswords(original)));
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QCOMPARE(catalogue.GetSvrItem(it.key())->ClntSett.Password, QString());
        QCOMPARE(ask([&](auto answer) { keyring_->read(fields->keyOf(it.key()), answer); }).password, it.value());
    }

    const KeyringMoveReport back = run([](KeyringMove &move) { move.allIntoFile(); });
    QVERIFY2(back.failed.isEmpty(), qPrintable(back.failed.join(QLatin1Char('\n'))));
    QCOMPARE(back.moved, 3);
    QCOMPARE(readAll(path), fileBytes(original));
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QCOMPARE(catalogue.GetSvrItem(it.key())->ClntSett.Password, it.value());
        QVERIFY(ask([&](auto answer) { keyring_->read(fields->keyOf(it.key()), answer); }).missing);
    }
    // Nothing left to move either way: both report none and change nothing.
    QCOMPARE(run([](KeyringMove &move) { move.allIntoFile(); }).moved, 0);
    QCOMPARE(readAll(path), fileBytes(original));
}

void tst_Keyring::localPasswordsFollow()
{
    const QString list = dir_.filePath(QStringLiteral("shared.ini"));
    writeAll(list, fileBytes(withoutPasswords(handWrittenList())));
    const QString local = dir_.filePath(QStringLiteral("0123456789abcdef0123456789abcdef.ini"));
    LocalPasswords(local).set({{1, QStringLiteral("one")}, {2, QStringLiteral("two")}});
    const QByteArray localBefore = readAll(local);
    Catalogue &catalogue = install(std::make_unique<LocalPasswordStore>(list, local));
    const auto fields = PasswordFields::Of(catalogue);
    QVERIFY(fields->keyOf(1).startsWith(QStringLiteral("catalogue:0123456789abcdef0123456789abcdef#")));

    const KeyringMoveReport in = run([](KeyringMove &move) { move.allIntoKeyring(); });
    QCOMPARE(in.moved, 2);
    QVERIFY(LocalPasswords(local).all().isEmpty());
    QCOMPARE(ask([&](auto answer) { keyring_->read(fields->keyOf(2), answer); }).password, QStringLiteral("two"));

    const KeyringMoveReport back = run([](KeyringMove &move) { move.allIntoFile(); });
    QCOMPARE(back.moved, 2);
    QCOMPARE(LocalPasswords(local).all().value(1), QStringLiteral("one"));
    QCOMPARE(LocalPasswords(local).all().value(2), QStringLiteral("two"));
    QCOMPARE(readAll(local), localBefore);
    QCOMPARE(readAll(list), fileBytes(withoutPasswords(handWrittenList())));
}

void tst_Keyring::connectReadsKeyring()
{
    // What the connect command does for a server whose field is empty: one read, answered in time.
    const QString path = dir_.filePath(QStringLiteral("connect.ini"));
    writeAll(path, fileBytes(handWrittenList()));
    Catalogue &catalogue = install(std::make_unique<IniStore>(path));
    QCOMPARE(run([](KeyringMove &move) { move.intoKeyring({2}); }).moved, 1);
    QCOMPARE(catalogue.GetSvrItem(2)->ClntSett.Password, QString());
    QVERIFY(!catalogue.GetSvrItem(1)->ClntSett.Password.isEmpty()); // only the one asked for moved
    QElapsedTimer took;
    took.start();
    const auto answer = ask([&](auto done) { keyring_->read(PasswordFields::Of(catalogue)->keyOf(2), done); });
    QVERIFY2(answer.ok, qPrintable(answer.error));
    QCOMPARE(answer.password, QStringLiteral("coote?"));
    QVERIFY(took.elapsed() < kWaitMs / 2);
}

#else

void tst_Keyring::noKeyringNoticeOnce()
{
    const QString path = dir_.filePath(QStringLiteral("absent.ini"));
    Catalogue &catalogue = install(std::make_unique<IniStore>(path));
    SetPasswordsInKeyring(true);
    QSignalSpy notices(keyring_.get(), &Keyring::unavailable);
    KeyringSaver saver(*keyring_);
    QElapsedTimer took;
    took.start();
    TClientSettings settings;
    settings.Server = QStringLiteral("host-c");
    settings.Password = QStringLiteral("kept");
    const int first = catalogue.AddSvrItem(settings, UngroupedId, {})->Id;
    QTRY_VERIFY_WITH_TIMEOUT(saver.idle() && keyring_->pending() == 0, kWaitMs);
    settings.Password = QStringLiteral("kept too");
    const int second = catalogue.AddSvrItem(settings, UngroupedId, {})->Id;
    catalogue.UpdateSvrItem(first, settings, {});
    QTRY_VERIFY_WITH_TIMEOUT(saver.idle() && keyring_->pending() == 0, kWaitMs);
    QVERIFY(took.elapsed() < kWaitMs);

    const QByteArray bytes = readAll(path);
    const KeyringMoveReport report = run([](KeyringMove &move) { move.allIntoKeyring(); });
    QVERIFY(report.unavailable);
    QCOMPARE(report.moved, 0);
    QVERIFY(report.summary().contains(QStringLiteral("没有运行系统密钥环")));
    QCOMPARE(readAll(path), bytes);
    QCOMPARE(notices.size(), 1);
    QVERIFY(keyring_->knownUnavailable());

    const auto fields = PasswordFields::Of(catalogue);
    QCOMPARE(fields->read().value(first), QStringLiteral("kept too"));
    QCOMPARE(fields->read().value(second), QStringLiteral("kept too"));
    QCOMPARE(catalogue.GetSvrItem(second)->ClntSett.Password, QStringLiteral("kept too"));
}

#endif

QTEST_GUILESS_MAIN(tst_Keyring)
#include "tst_keyring.moc"
