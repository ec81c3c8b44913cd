#include "ConfConsFile.h"

#include "GroupPaths.h"
#include "MRemotePasswords.h"
#include "XmlImport.h"

#include <QRegularExpression>

namespace {

// One Node element around the place being read, with its attributes.
struct NodeLevel {
    QXmlStreamAttributes attributes;
    QString path; // for a folder: its group's name
    bool folder = false;
};

// Work on passwords a file may ask for: the iterations of every key derived.
// Beyond it the remaining passwords are not opened, so that no file keeps the
// reader busy for long.
constexpr qint64 kKeyWorkBudget = 20'000'000;

int colorDepthOf(const QString &colors)
{
    // Colors256, Colors15Bit, Colors16Bit, Colors24Bit, Colors32Bit.
    if (colors == QLatin1String("Colors256"))
        return 8;
    static const QRegularExpression bits(QStringLiteral("^Colors(\\d{1,2})Bit$"));
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
    static const QRegularExpression size(QStringLiteral("^Res(\\d{1,6})x(\\d{1,6})$"));
    const auto m = size.match(resolution);
    if (m.hasMatch())
        SetImportSize(s, m.captured(1).toInt(), m.captured(2).toInt());
}

bool isTrue(QStringView text)
{
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// What the root element says about the file's passwords.
struct Protection {
    int iterations = MRemotePasswords::MinIterations;
    QString check; // "Protected": a fixed text sealed with the master password
};

class ConfConsReader {
public:
    ConfConsReader(TImportXml &xml, TImportResult &result, Protection protection)
        : xml_(xml), result_(result), protection_(std::move(protection))
    {
    }

    void read()
    {
        while (xml_.Next()) {
            if (xml_.IsEnd()) {
                if (!levels_.empty())
                    levels_.pop_back();
                continue;
            }
            if (xml_.Name() != QLatin1String("Node")) {
                xml_.SkipElement();
                continue;
            }
            readNode();
        }
    }

private:
    // The value that applies to the node at `index`: its own, or its folder's
    // where it says it inherits it.
    QString value(qsizetype index, const QString &name) const
    {
        const QString inherit = QStringLiteral("Inherit") + name;
        for (qsizetype i = index; i >= 0; --i)
            if (i == 0 || !isTrue(AttributeValue(levels_[i].attributes, inherit)))
                return AttributeValue(levels_[i].attributes, name).trimmed();
        return {};
    }

    QString own(qsizetype index, QStringView name) const
    {
        return AttributeValue(levels_[index].attributes, name).trimmed();
    }

    QString folderPath() const
    {
        for (auto it = levels_.rbegin(); it != levels_.rend(); ++it)
            if (it->folder)
                return it->path;
        return {};
    }

    void readNode()
    {
        if (levels_.size() >= size_t(MaxGroupDepth))
            ThrowUnreadable(xml_.FileName(), ImportText::TooDeep(MaxGroupDepth));
        NodeLevel level{xml_.Attributes(), {}, false};
        const QString type = AttributeValue(level.attributes, u"Type").trimmed();
        if (type == QLatin1String("Container")) {
            level.folder = true;
            level.path = paths_.Claim(folderPath(), AttributeValue(level.attributes, u"Name"));
        }
        levels_.push_back(std::move(level));
        if (type == QLatin1String("Connection"))
            readConnection(qsizetype(levels_.size()) - 1);
    }

    void readConnection(qsizetype node)
    {
        const QString address = value(node, QStringLiteral("Hostname"));
        const QString ownName = own(node, u"Name");
        const QString name = ownName.isEmpty() ? address : ownName;
        const QString protocol = value(node, QStringLiteral("Protocol"));
        if (protocol.compare(QLatin1String("RDP"), Qt::CaseInsensitive) != 0) {
            result_.Skipped.push_back({name, ImportText::NotRdp(protocol)});
            return;
        }
        TImportRecord record;
        TClientSettings &s = record.Settings;
        if (!SetImportAddress(s, address, value(node, QStringLiteral("Port")).toInt(), name, result_.Skipped))
            return;
        s.User = value(node, QStringLiteral("Username"));
        s.Domain = value(node, QStringLiteral("Domain"));
        readResolution(value(node, QStringLiteral("Resolution")), s);
        s.ColorDepth = ImportColorDepth(colorDepthOf(value(node, QStringLiteral("Colors"))), name, result_.Notes);
        readPassword(value(node, QStringLiteral("Password")), name, record);
        record.Description = ImportDescription(ownName, own(node, u"Descr"), name, result_.Notes);
        record.Group = folderPath();
        result_.Records.push_back(record);
    }

    void readPassword(const QString &sealed, const QString &name, TImportRecord &record)
    {
        if (sealed.isEmpty())
            return;
        const int iterations = protection_.iterations;
        const bool wellFormed = MRemotePasswords::LooksSealed(sealed) && iterations >= MRemotePasswords::MinIterations
            && iterations <= MRemotePasswords::MaxIterations;
        if (!wellFormed) {
            result_.Notes.push_back({name, ImportText::DamagedPassword()});
            return;
        }
        if (keyWork_ + iterations > kKeyWorkBudget) {
            result_.Notes.push_back({name, QStringLiteral("文件中的加密密码太多，此后的密码未导入")});
            return;
        }
        keyWork_ += iterations;
        if (const auto clear = MRemotePasswords::Open(sealed, MRemotePasswords::DefaultMaster(), iterations)) {
            record.Settings.Password = *clear;
            return;
        }
        record.Sealed = {sealed, iterations, protection_.check};
    }

    TImportXml &xml_;
    TImportResult &result_;
    Protection protection_;
    std::vector<NodeLevel> levels_;
    TGroupPaths paths_;
    qint64 keyWork_ = 0;
};

} // namespace

TImportResult ReadConfConsFile(const QByteArray &bytes, const QString &fileName)
{
    TImportXml xml(bytes, fileName);
    if (!xml.Next() || !xml.IsStart() || xml.Name() != QLatin1String("Connections"))
        ThrowUnreadable(fileName, QStringLiteral("不是 mRemoteNG 的连接列表（confCons.xml）"));
    const QXmlStreamAttributes root = xml.Attributes();
    if (isTrue(AttributeValue(root, u"FullFileEncryption")))
        ThrowUnreadable(fileName, QStringLiteral("整个文件已用 mRemoteNG 的主密码加密，无法读取。"
                                                 "请在 mRemoteNG 中关闭“加密整个文件”后再导出一份"));
    Protection protection;
    if (HasAttribute(root, u"KdfIterations"))
        protection.iterations = AttributeValue(root, u"KdfIterations").toInt();
    protection.check = AttributeValue(root, u"Protected").trimmed();
    TImportResult result;
    result.Source = fileName;
    ConfConsReader(xml, result, protection).read();
    return result;
}
