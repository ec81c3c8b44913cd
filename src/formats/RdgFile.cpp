#include "RdgFile.h"

#include "GroupPaths.h"
#include "XmlImport.h"

#include <QHash>
#include <QRegularExpression>
#include <memory>

namespace {

using Element = std::shared_ptr<const TXmlElement>;

// The settings a server takes from its group unless it has its own.
struct Inherited {
    Element credentials; // logonCredentials
    Element connection;  // connectionSettings
    Element display;     // remoteDesktop
};

// The file or a group around the place being read.
struct Level {
    Inherited here;
    QString parentPath;
    QString name;
    bool isFile = false;
    bool claimed = false;
    QString path;
};

const TXmlElement *settingsOf(const TXmlElement &node, QStringView name)
{
    if (const TXmlElement *own = node.Child(name))
        return own;
    const TXmlElement *properties = node.Child(u"properties");
    return properties ? properties->Child(name) : nullptr;
}

bool inheritsFromParent(const TXmlElement &settings)
{
    return settings.Attribute(u"inherit") == QLatin1String("FromParent");
}

// A server's own settings element, or the one it inherits ("FromParent" or none).
const TXmlElement *ownOrInherited(const TXmlElement &node, QStringView name, const Element &inherited)
{
    const TXmlElement *own = settingsOf(node, name);
    if (!own || inheritsFromParent(*own))
        return inherited.get();
    return own;
}

QString nodeText(const TXmlElement &node, QStringView name)
{
    const QString own = node.ChildText(name);
    if (!own.isEmpty())
        return own;
    const TXmlElement *properties = node.Child(u"properties");
    return properties ? properties->ChildText(name) : QString();
}

QString childText(const TXmlElement *element, QStringView name)
{
    return element ? element->ChildText(name) : QString();
}

bool isTrue(const QString &text)
{
    return text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

class RdgReader {
public:
    RdgReader(TImportXml &xml, TImportResult &result) : xml_(xml), result_(result) {}

    // Reads the document's elements up to its end; true when it had a file element.
    bool read()
    {
        bool sawFile = false;
        while (xml_.Next()) {
            if (xml_.IsEnd()) {
                if (!levels_.empty())
                    levels_.pop_back();
                continue;
            }
            if (levels_.empty()) {
                if (xml_.Name() == QLatin1String("file")) {
                    sawFile = true;
                    levels_.push_back(Level{{}, {}, {}, true, true, {}});
                } else {
                    xml_.SkipElement();
                }
                continue;
            }
            readInGroup();
        }
        return sawFile;
    }

private:
    void readInGroup()
    {
        const QStringView name = xml_.Name();
        if (name == QLatin1String("group"))
            return enterGroup();
        if (name == QLatin1String("server"))
            return readServer(xml_.ReadElement());
        if (name == QLatin1String("properties")) {
            const TXmlElement properties = xml_.ReadElement();
            levels_.back().name = properties.ChildText(u"name");
            // The older layout keeps a group's settings among its properties.
            for (const TXmlElement &child : properties.Children)
                applySettings(child);
            return;
        }
        if (name == QLatin1String("credentialsProfiles"))
            return readProfiles(xml_.ReadElement());
        if (name == QLatin1String("logonCredentials") || name == QLatin1String("connectionSettings")
            || name == QLatin1String("remoteDesktop"))
            return applySettings(xml_.ReadElement());
        xml_.SkipElement();
    }

    void enterGroup()
    {
        // The file's own level does not count as a group.
        if (int(levels_.size()) > MaxGroupDepth)
            ThrowUnreadable(xml_.FileName(), ImportText::TooDeep(MaxGroupDepth));
        Level &parent = levels_.back();
        Level inner;
        inner.here = parent.here;
        inner.parentPath = pathOf(parent);
        levels_.push_back(std::move(inner));
    }

    // A group's name in the catalogue, fixed when it is first needed: its name comes before its servers.
    QString pathOf(Level &level)
    {
        if (!level.claimed) {
            level.path = paths_.Claim(level.parentPath, level.name);
            level.claimed = true;
        }
        return level.path;
    }

    void applySettings(const TXmlElement &settings)
    {
        if (inheritsFromParent(settings))
            return;
        Inherited &here = levels_.back().here;
        auto shared = std::make_shared<const TXmlElement>(settings);
        if (settings.Name == QLatin1String("logonCredentials"))
            here.credentials = shared;
        else if (settings.Name == QLatin1String("connectionSettings"))
            here.connection = shared;
        else if (settings.Name == QLatin1String("remoteDesktop"))
            here.display = shared;
    }

    // Credentials kept under a name in the file, to which a server may refer.
    void readProfiles(const TXmlElement &profiles)
    {
        for (const TXmlElement &p : profiles.Children)
            if (p.Name == QLatin1String("credentialsProfile"))
                profiles_.insert(p.ChildText(u"profileName"), p);
    }

    // Credentials that name a profile of the file carry no user of their own.
    const TXmlElement *resolveProfile(const TXmlElement *credentials) const
    {
        if (!credentials || credentials->Child(u"userName"))
            return credentials;
        const auto it = profiles_.constFind(credentials->ChildText(u"profileName"));
        return it == profiles_.cend() ? credentials : &*it;
    }

    void readCredentials(const TXmlElement *credentials, const QString &name, TClientSettings &s)
    {
        const TXmlElement *c = resolveProfile(credentials);
        s.User = childText(c, u"userName");
        s.Domain = childText(c, u"domain");
        const TXmlElement *password = c ? c->Child(u"password") : nullptr;
        if (!password || password->Text.isEmpty())
            return;
        if (isTrue(password->Attribute(u"storeAsClearText")))
            s.Password = password->Text;
        else
            result_.Notes.push_back({name, ImportText::EncryptedPassword()});
    }

    void readDisplay(const TXmlElement *display, const QString &name, TClientSettings &s)
    {
        if (!display)
            return;
        static const QRegularExpression size(QStringLiteral("^\\s*(\\d{1,6})\\s*[xX×]\\s*(\\d{1,6})\\s*$"));
        const auto m = size.match(display->ChildText(u"size"));
        if (m.hasMatch())
            SetImportSize(s, m.captured(1).toInt(), m.captured(2).toInt());
        s.FullScreen = isTrue(display->ChildText(u"fullScreen"));
        s.ColorDepth = ImportColorDepth(display->ChildText(u"colorDepth").toInt(), name, result_.Notes);
    }

    void readServer(const TXmlElement &server)
    {
        Level &level = levels_.back();
        const QString address = nodeText(server, u"name");
        const QString displayName = nodeText(server, u"displayName");
        const QString name = displayName.isEmpty() ? address : displayName;
        TImportRecord record;
        TClientSettings &s = record.Settings;
        const TXmlElement *connection = ownOrInherited(server, u"connectionSettings", level.here.connection);
        if (!SetImportAddress(s, address, childText(connection, u"port").toInt(), name, result_.Skipped))
            return;
        readCredentials(ownOrInherited(server, u"logonCredentials", level.here.credentials), name, s);
        readDisplay(ownOrInherited(server, u"remoteDesktop", level.here.display), name, s);
        record.Description = ImportDescription(displayName, nodeText(server, u"comment"), name, result_.Notes);
        record.Group = pathOf(level);
        result_.Records.push_back(record);
    }

    TImportXml &xml_;
    TImportResult &result_;
    std::vector<Level> levels_;
    TGroupPaths paths_;
    QHash<QString, TXmlElement> profiles_;
};

void throwNotRdg(const QString &fileName)
{
    ThrowUnreadable(fileName, QStringLiteral("不是 Remote Desktop Connection Manager 的服务器列表（.rdg）"));
}

} // namespace

TImportResult ReadRdgFile(const QByteArray &bytes, const QString &fileName)
{
    TImportXml xml(bytes, fileName);
    if (!xml.Next() || !xml.IsStart() || xml.Name() != QLatin1String("RDCMan"))
        throwNotRdg(fileName);
    TImportResult result;
    result.Source = fileName;
    if (!RdgReader(xml, result).read())
        throwNotRdg(fileName);
    return result;
}
