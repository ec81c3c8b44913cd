// libFuzzer harness: a server list file of arbitrary bytes is loaded, one server is
// added, and the file is loaded again. Every group and server that loaded before the
// add must load the same after it, and the added server must load back as it was
// added. Any difference aborts with both states printed.

#include "AppError.h"
#include "CatalogueDump.h"
#include "RdpCommon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Loaded {
    QString dump;
    QString warning;
};

// In memory where the system has such a folder: every add flushes the file to disk.
QTemporaryDir *workDir()
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/fuzz_catalogue_append-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_catalogue_append-XXXXXX"));
    return &dir;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

Loaded load(const QString &path)
{
    ReloadCatalogue(path);
    return Loaded{DumpCatalogue(), TakeLoadWarning()};
}

// The server the run adds: texts of the kinds a user types, picked by the input so
// that each file meets several of them.
TSvrItem addedServer(uint8_t pick)
{
    static const char16_t *const descriptions[] = {u"新服务器", u"主站 Web 服务器", u"测试机，端口非默认", u"backup", u"",
                                                   u" 两端有空格 ", u"\"引号\"", u"数据库😀"};
    static const char16_t *const users[] = {u"admin", u"管理员", u"运维", u"root"};
    static const char16_t *const passwords[] = {u"P@ssw0rd!", u"", u"p\u00e4sswort", u"longpassword123"};
    TSvrItem item;
    item.Description = QString::fromUtf16(descriptions[pick % 8]);
    item.ClntSett.Server = QStringLiteral("127.0.0.%1").arg(30 + pick % 7);
    item.ClntSett.User = QString::fromUtf16(users[(pick >> 3) % 4]);
    item.ClntSett.Password = QString::fromUtf16(passwords[(pick >> 5) % 4]);
    item.ClntSett.Domain = pick & 1 ? QStringLiteral("CORP") : QString();
    item.ClntSett.Port = 3389 + pick % 3;
    item.ClntSett.Width = 1280;
    item.ClntSett.Height = 1024;
    item.ClntSett.FullScreen = (pick & 2) != 0;
    item.ClntSett.ColorDepth = pick & 4 ? 32 : 16;
    return item;
}

[[noreturn]] void finding(const char *what, const Loaded &before, const Loaded &after, const QString &expected)
{
    std::fprintf(stderr, "\n== %s\n-- before the add:\n%s\n%s\n-- after it:\n%s\n%s\n-- expected after it:\n%s\n", what,
                 qPrintable(before.dump), qPrintable(before.warning), qPrintable(after.dump), qPrintable(after.warning),
                 qPrintable(expected));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    if (!workDir()->isValid())
        qFatal("no temporary folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = workDir()->filePath(QStringLiteral("SvrList.ini"));
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    writeFile(path, bytes);

    Loaded before;
    try {
        before = load(path);
    } catch (const AppError &) {
        ReleaseCatalogue();
        return 0; // a file that does not load is reported, and nothing is added to it
    }

    const TSvrItem wanted = addedServer(size ? data[size / 2] ^ uint8_t(size) : 0);
    const int groupId = size % 3 == 0 && GetSvrGroups().Count() ? GetSvrGroups().Items(0)->GroupId : UngroupedId;
    const int counterBefore = MaxServerId;
    PSvrItem added = nullptr;
    try {
        added = AddSvrItem(wanted.ClntSett, groupId, wanted.Description);
    } catch (const AppError &) {
        // No id left: the file must not have changed.
        ReleaseCatalogue();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes) {
            std::fprintf(stderr, "\n== a refused add changed the file\n");
            std::abort();
        }
        return 0;
    }
    const int newId = added->Id;
    if (newId <= counterBefore && counterBefore >= 0)
        finding("the new id is not above the counter", before, {}, {});

    // What the file must give now: the same groups, the counter raised to the new
    // id, every server as before, and the new one after them in id order.
    QStringList lines = before.dump.split(QLatin1Char('\n'));
    lines[0] = QStringLiteral("counters %1 %2").arg(MaxGroupID).arg(newId);
    lines.append(DumpServer(*added));
    const QString expected = lines.join(QLatin1Char('\n'));

    if (added->ClntSett != wanted.ClntSett || added->Description != wanted.Description)
        finding("the added server differs in memory", before, {}, expected);

    Loaded after;
    try {
        after = load(path);
    } catch (const AppError &error) {
        finding(qPrintable(QStringLiteral("the file no longer loads: ") + error.message()), before, {}, expected);
    }
    ReleaseCatalogue();
    if (after.dump != expected)
        finding("the catalogue differs after the add", before, after, expected);
    if (after.warning != before.warning)
        finding("the load warning differs after the add", before, after, expected);
    return 0;
}
