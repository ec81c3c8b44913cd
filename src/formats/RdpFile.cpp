#include "RdpFile.h"

#include "HostPort.h"

#include <QFileInfo>
#include <QHash>
#include <QStringEncoder>

namespace {

constexpr int kRdpPort = 3389;

struct RdpSetting {
    QChar type;
    QString value;
    int line = 0;
};

// "name:type:value"; the name may hold blanks ("full address") but no colon.
bool splitLine(const QString &line, QString &name, QChar &type, QString &value)
{
    const qsizetype first = line.indexOf(u':');
    if (first <= 0 || line.size() < first + 3 || line[first + 2] != u':')
        return false;
    type = line[first + 1].toLower();
    if (type != u's' && type != u'i' && type != u'b')
        return false;
    name = line.left(first).trimmed().toLower();
    value = line.mid(first + 3);
    return !name.isEmpty();
}

class RdpReader {
public:
    RdpReader(const QString &text, const QString &fileName) : fileName_(fileName)
    {
        const QStringList lines = text.split(u'\n');
        for (int i = 0; i < lines.size(); ++i) {
            QString name, value;
            QChar type;
            if (!splitLine(lines[i].trimmed(), name, type, value))
                continue;
            // Where a name stands twice the Windows client takes the last one.
            settings_.insert(name, RdpSetting{type, value.trimmed(), i + 1});
        }
        if (settings_.isEmpty())
            ThrowUnreadable(fileName, QStringLiteral("不是远程桌面连接文件（.rdp），其中没有任何设置"));
    }

    bool has(const QString &name) const { return settings_.contains(name); }
    QString text(const QString &name) const { return settings_.value(name).value; }

    // The integer, or `fallback` when the file has none; a damaged one makes the file unreadable.
    int integer(const QString &name, int fallback) const
    {
        const auto it = settings_.constFind(name);
        if (it == settings_.cend() || it->value.isEmpty())
            return fallback;
        bool ok = false;
        const int value = it->value.toInt(&ok);
        if (!ok || it->type != u'i')
            ThrowUnreadable(fileName_, QStringLiteral("第 %1 行“%2”的值“%3”不是整数").arg(it->line).arg(name, it->value));
        return value;
    }

private:
    QString fileName_;
    QHash<QString, RdpSetting> settings_;
};

void readUser(const RdpReader &rdp, TClientSettings &s)
{
    // "DOMAIN\user" carries its domain; "user@domain" is a logon name as it stands.
    const QString user = rdp.text(QStringLiteral("username"));
    const qsizetype slash = user.indexOf(u'\\');
    if (slash > 0) {
        s.Domain = user.left(slash);
        s.User = user.mid(slash + 1);
    } else {
        s.User = user;
        s.Domain = rdp.text(QStringLiteral("domain"));
    }
}

} // namespace

TImportResult ReadRdpFile(const QByteArray &bytes, const QString &fileName)
{
    const RdpReader rdp(DecodeImportText(bytes, fileName), fileName);
    TImportResult result;
    result.Source = fileName;
    const QString name = QFileInfo(fileName).completeBaseName();

    TImportRecord record;
    TClientSettings &s = record.Settings;
    if (!SetImportAddress(s, rdp.text(QStringLiteral("full address")), rdp.integer(QStringLiteral("server port"), 0), name,
                          result.Skipped))
        return result;
    readUser(rdp, s);
    SetImportSize(s, rdp.integer(QStringLiteral("desktopwidth"), 0), rdp.integer(QStringLiteral("desktopheight"), 0));
    s.ColorDepth = ImportColorDepth(rdp.integer(QStringLiteral("session bpp"), 0), name, result.Notes);
    s.FullScreen = rdp.integer(QStringLiteral("screen mode id"), 1) == 2;
    if (!rdp.text(QStringLiteral("password 51")).isEmpty())
        result.Notes.push_back({name, ImportText::EncryptedPassword()});
    record.Description = name;
    result.Records.push_back(record);
    return result;
}

QByteArray WriteRdpFile(const TClientSettings &s)
{
    QStringList lines;
    lines << QStringLiteral("screen mode id:i:%1").arg(s.FullScreen ? 2 : 1)
          << QStringLiteral("desktopwidth:i:%1").arg(s.Width)
          << QStringLiteral("desktopheight:i:%1").arg(s.Height)
          << QStringLiteral("session bpp:i:%1").arg(s.ColorDepth)
          << QStringLiteral("full address:s:%1").arg(FormatHostPort(s.Server.trimmed(), s.Port, kRdpPort))
          << QStringLiteral("username:s:%1").arg(s.User);
    if (!s.Domain.isEmpty())
        lines << QStringLiteral("domain:s:%1").arg(s.Domain);
    // Line breaks inside a value would make lines of their own.
    for (QString &line : lines)
        line.replace(u'\r', u' ').replace(u'\n', u' ');
    QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    return encoder.encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}
