#include "RdgFile.h"

#include "XmlImport.h"

#include <QHash>
#include <QRegularExpression>

namespace {

// The settings a server takes from its group unless it has its own.
struct Inherited {
    QDomElement credentials; // a logonCredentials element, or null
    QDomElement connection;  // connectionSettings
    QDomElement display;     // remoteDesktop
    QString group;
};

// A settings element of a node: directly under it or, in the older layout, under its properties.
QDomElement settingsOf(const QDomElement &node, const QString &name)
{
    QDomElement e = node.firstChildElement(name);
    if (e.isNull())
        e = node.firstChildElement(QStringLiteral("properties")).firstChildElement(name);
    return e;
}

// A node's own settings element, or the one it inherits ("FromParent" or none).
QDomElement ownOrInherited(const QDomElement &node, const QString &name, const QDomElement &inherited)
{
    const QDomElement own = settingsOf(node, name);
    if (own.isNull() || own.attribute(QStringLiteral("inherit")) == QLatin1String("FromParent"))
        return inherited;
    return own;
}

QString nodeText(const QDomElement &node, const QString &name)
{
    const QString own = ChildText(node, name);
    return own.isEmpty() ? ChildText(node.firstChildElement(QStringLiteral("properties")), name) : own;
}

bool isTrue(const QString &text)
{
    return text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

class RdgReader {
public:
    RdgReader(const QDomElement &file, TImportResult &result) : fResult(result)
    {
        // Credentials kept under a name in the file, to which a server may refer.
        const QDomElement profiles = file.firstChildElement(QStringLiteral("credentialsProfiles"));
        for (QDomElement p = profiles.firstChildElement(QStringLiteral("credentialsProfile")); !p.isNull();
             p = p.nextSiblingElement(QStringLiteral("credentialsProfile")))
            fProfiles.insert(ChildText(p, QStringLiteral("profileName")), p);
    }

    void readNode(const QDomElement &node, const Inherited &parent)
    {
        Inherited here = {ownOrInherited(node, QStringLiteral("logonCredentials"), parent.credentials),
                          ownOrInherited(node, QStringLiteral("connectionSettings"), parent.connection),
                          ownOrInherited(node, QStringLiteral("remoteDesktop"), parent.display), parent.group};
        for (QDomElement child = node.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
            if (child.tagName() == QLatin1String("server")) {
                readServer(child, here);
            } else if (child.tagName() == QLatin1String("group")) {
                Inherited inner = here;
                inner.group = JoinGroupPath(here.group, nodeText(child, QStringLiteral("name")));
                readNode(child, inner);
            }
        }
    }

private:
    // Credentials that name a profile of the file carry no user of their own.
    QDomElement resolveProfile(const QDomElement &credentials) const
    {
        if (credentials.isNull() || !credentials.firstChildElement(QStringLiteral("userName")).isNull())
            return credentials;
        return fProfiles.value(ChildText(credentials, QStringLiteral("profileName")), credentials);
    }

    void readCredentials(const QDomElement &credentials, const QString &name, TClientSettings &s)
    {
        const QDomElement c = resolveProfile(credentials);
        s.User = ChildText(c, QStringLiteral("userName"));
        s.Domain = ChildText(c, QStringLiteral("domain"));
        const QDomElement password = c.firstChildElement(QStringLiteral("password"));
        if (password.text().isEmpty())
            return;
        if (isTrue(password.attribute(QStringLiteral("storeAsClearText"))))
            s.Password = password.text();
        else
            fResult.Notes.push_back({name, ImportText::EncryptedPassword()});
    }

    void readDisplay(const QDomElement &display, const QString &name, TClientSettings &s)
    {
        if (display.isNull())
            return;
        static const QRegularExpression size(QStringLiteral("^\\s*(\\d+)\\s*[xX×]\\s*(\\d+)\\s*$"));
        const auto m = size.match(ChildText(display, QStringLiteral("size")));
        if (m.hasMatch())
            SetImportSize(s, m.captured(1).toInt(), m.captured(2).toInt());
        s.FullScreen = isTrue(ChildText(display, QStringLiteral("fullScreen")));
        s.ColorDepth = ImportColorDepth(ChildText(display, QStringLiteral("colorDepth")).toInt(), name, fResult.Notes);
    }

    void readServer(const QDomElement &server, const Inherited &parent)
    {
        const QString address = nodeText(server, QStringLiteral("name"));
        const QString displayName = nodeText(server, QStringLiteral("displayName"));
        const QString name = displayName.isEmpty() ? address : displayName;
        TImportRecord record;
        TClientSettings &s = record.Settings;
        const QDomElement connection = ownOrInherited(server, QStringLiteral("connectionSettings"), parent.connection);
        if (!SetImportAddress(s, address, ChildText(connection, QStringLiteral("port")).toInt(), name, fResult.Skipped))
            return;
        readCredentials(ownOrInherited(server, QStringLiteral("logonCredentials"), parent.credentials), name, s);
        readDisplay(ownOrInherited(server, QStringLiteral("remoteDesktop"), parent.display), name, s);
        record.Description = displayName;
        record.Group = parent.group;
        fResult.Records.push_back(record);
    }

    TImportResult &fResult;
    QHash<QString, QDomElement> fProfiles;
};

} // namespace

TImportResult ReadRdgFile(const QByteArray &bytes, const QString &fileName)
{
    const QDomDocument doc = ParseImportXml(bytes, fileName);
    const QDomElement root = doc.documentElement();
    const QDomElement file = root.firstChildElement(QStringLiteral("file"));
    if (root.tagName() != QLatin1String("RDCMan") || file.isNull())
        ThrowUnreadable(fileName, QStringLiteral("不是 Remote Desktop Connection Manager 的服务器列表（.rdg）"));
    TImportResult result;
    result.Source = fileName;
    RdgReader(file, result).readNode(file, Inherited{});
    return result;
}
