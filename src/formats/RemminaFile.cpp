#include "RemminaFile.h"

#include "GroupPaths.h"
#include "IniDocument.h"

#include <QFileInfo>

namespace {

const QString kSection = QStringLiteral("remmina");

// Values are written with the escapes of the desktop's key files: \s \n \t \r \\.
QString unescape(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            out.append(value[i]);
            continue;
        }
        const QChar c = value[++i];
        out.append(c == u's' ? QChar(u' ') : c == u'n' ? QChar(u'\n')
                       : c == u't'                     ? QChar(u'\t')
                       : c == u'r'                     ? QChar(u'\r')
                                                       : c);
    }
    return out;
}

class Profile {
public:
    Profile(const IniDocument &doc, const QString &fileName) : doc_(doc), fileName_(fileName) {}

    QString text(const char *key) const { return unescape(doc_.readString(kSection, QLatin1String(key), {})); }
    int integer(const char *key, int fallback) const
    {
        const QString value = text(key).trimmed();
        if (value.isEmpty())
            return fallback;
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok)
            ThrowUnreadable(fileName_, QStringLiteral("“%1”的值“%2”不是整数").arg(QLatin1String(key), value));
        return n;
    }

private:
    const IniDocument &doc_;
    QString fileName_;
};

// Remmina nests groups with "/" in the name.
QString groupPath(const QString &group)
{
    QStringList parts;
    for (const QString &part : group.split(u'/'))
        if (!part.trimmed().isEmpty())
            parts << part.simplified();
    return parts.join(TGroupPaths::Separator()).left(TGroupPaths::MaxLength);
}

bool isFullScreenView(int viewMode)
{
    // 2 full screen, 3 scrolled full screen, 4 viewport full screen.
    return viewMode >= 2 && viewMode <= 4;
}

} // namespace

TImportResult ReadRemminaFile(const QByteArray &bytes, const QString &fileName)
{
    const IniDocument doc = IniDocument::fromBytes(DecodeImportText(bytes, fileName).toUtf8());
    if (!doc.hasSection(kSection))
        ThrowUnreadable(fileName, QStringLiteral("不是 Remmina 连接文件，其中没有 [remmina] 一节"));
    const Profile profile(doc, fileName);
    TImportResult result;
    result.Source = fileName;

    QString name = profile.text("name").trimmed();
    const QString address = profile.text("server").trimmed();
    if (name.isEmpty())
        name = address.isEmpty() ? QFileInfo(fileName).completeBaseName() : address;
    const QString protocol = profile.text("protocol").trimmed();
    if (protocol.compare(QLatin1String("RDP"), Qt::CaseInsensitive) != 0) {
        result.Skipped.push_back({name, ImportText::NotRdp(protocol)});
        return result;
    }
    TImportRecord record;
    TClientSettings &s = record.Settings;
    if (!SetImportAddress(s, address, 0, name, result.Skipped))
        return result;
    s.User = profile.text("username").trimmed();
    s.Domain = profile.text("domain").trimmed();
    SetImportSize(s, profile.integer("resolution_width", 0), profile.integer("resolution_height", 0));
    s.ColorDepth = ImportColorDepth(profile.integer("colordepth", 0), name, result.Notes);
    s.FullScreen = isFullScreenView(profile.integer("viewmode", 1));
    if (!profile.text("password").isEmpty())
        result.Notes.push_back({name, ImportText::EncryptedPassword()});
    record.Description = name;
    record.Group = groupPath(profile.text("group"));
    result.Records.push_back(record);
    return result;
}
