#include "ConfConsFile.h"

#include "XmlImport.h"

#include <QRegularExpression>

namespace {

const QString kNode = QStringLiteral("Node");

// A node's attributes as they apply to it: its own, or its folder's where it
// says it inherits them.
class NodeView {
public:
    NodeView(const QDomElement &node, const NodeView *parent) : fNode(node), fParent(parent) {}

    QString value(const QString &name) const
    {
        if (fParent && fNode.attribute(QStringLiteral("Inherit") + name).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return fParent->value(name);
        return fNode.attribute(name).trimmed();
    }
    QString own(const char *name) const { return fNode.attribute(QLatin1String(name)).trimmed(); }

private:
    QDomElement fNode;
    const NodeView *fParent;
};

int colorDepthOf(const QString &colors)
{
    // Colors256, Colors15Bit, Colors16Bit, Colors24Bit, Colors32Bit.
    if (colors == QLatin1String("Colors256"))
        return 8;
    static const QRegularExpression bits(QStringLiteral("^Colors(\\d+)Bit$"));
    const auto m = bits.match(colors);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

void readResolution(const QString &resolution, TClientSettings &s)
{
    // Fullscreen, FitToWindow, SmartSize, or a fixed size such as Res1280x1024.
    if (resolution == QLatin1String("Fullscreen")) {
        s.FullScreen = true;
        return;
    }
    static const QRegularExpression size(QStringLiteral("^Res(\\d+)x(\\d+)$"));
    const auto m = size.match(resolution);
    if (m.hasMatch())
        SetImportSize(s, m.captured(1).toInt(), m.captured(2).toInt());
}

class ConfConsReader {
public:
    explicit ConfConsReader(TImportResult &result) : fResult(result) {}

    void readChildren(const QDomElement &parent, const NodeView *parentView, const QString &group)
    {
        for (QDomElement node = parent.firstChildElement(kNode); !node.isNull(); node = node.nextSiblingElement(kNode)) {
            const NodeView view(node, parentView);
            const QString type = view.own("Type");
            if (type == QLatin1String("Container"))
                readChildren(node, &view, JoinGroupPath(group, view.own("Name")));
            else if (type == QLatin1String("Connection"))
                readConnection(view, group);
        }
    }

private:
    void readConnection(const NodeView &node, const QString &group)
    {
        const QString address = node.value(QStringLiteral("Hostname"));
        const QString name = node.own("Name").isEmpty() ? address : node.own("Name");
        const QString protocol = node.value(QStringLiteral("Protocol"));
        if (protocol.compare(QLatin1String("RDP"), Qt::CaseInsensitive) != 0) {
            fResult.Skipped.push_back({name, ImportText::NotRdp(protocol)});
            return;
        }
        TImportRecord record;
        TClientSettings &s = record.Settings;
        if (!SetImportAddress(s, address, node.value(QStringLiteral("Port")).toInt(), name, fResult.Skipped))
            return;
        s.User = node.value(QStringLiteral("Username"));
        s.Domain = node.value(QStringLiteral("Domain"));
        readResolution(node.value(QStringLiteral("Resolution")), s);
        s.ColorDepth = ImportColorDepth(colorDepthOf(node.value(QStringLiteral("Colors"))), name, fResult.Notes);
        if (!node.value(QStringLiteral("Password")).isEmpty())
            fResult.Notes.push_back({name, ImportText::EncryptedPassword()});
        record.Description = node.own("Name");
        record.Group = group;
        fResult.Records.push_back(record);
    }

    TImportResult &fResult;
};

} // namespace

TImportResult ReadConfConsFile(const QByteArray &bytes, const QString &fileName)
{
    const QDomDocument doc = ParseImportXml(bytes, fileName);
    const QDomElement root = doc.documentElement();
    if (root.localName() != QLatin1String("Connections") && root.tagName() != QLatin1String("Connections")
        && !root.tagName().endsWith(QLatin1String(":Connections")))
        ThrowUnreadable(fileName, QStringLiteral("不是 mRemoteNG 的连接列表（confCons.xml）"));
    if (root.attribute(QStringLiteral("FullFileEncryption")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        ThrowUnreadable(fileName, QStringLiteral("整个文件已用 mRemoteNG 的主密码加密，无法读取。"
                                                 "请在 mRemoteNG 中关闭“加密整个文件”后再导出一份"));
    TImportResult result;
    result.Source = fileName;
    ConfConsReader(result).readChildren(root, nullptr, QString());
    return result;
}
