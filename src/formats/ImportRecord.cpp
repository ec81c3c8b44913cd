#include "ImportRecord.h"

#include "AppError.h"
#include "HostPort.h"
#include "RdpConst.h"
#include "ServerAddress.h"

#include <QFileInfo>
#include <QStringDecoder>

namespace ImportText {

QString EncryptedPassword()
{
    return QStringLiteral("密码已加密，无法读取，未导入密码");
}

QString NotRdp(const QString &protocol)
{
    return QStringLiteral("协议 %1 不是 RDP").arg(protocol.isEmpty() ? QStringLiteral("(空)") : protocol);
}

QString NoAddress()
{
    return QStringLiteral("没有服务器地址");
}

QString BadAddress(const QString &address)
{
    const QString why = ServerAddressFault(address);
    if (why.isEmpty())
        return QStringLiteral("服务器地址“%1”无效").arg(address);
    return QStringLiteral("服务器地址“%1”无效：%2").arg(VisibleAddress(address), why);
}

QString ColorDepthChanged(int depth, int used)
{
    return QStringLiteral("颜色深度 %1 位不可用，改为 %2 位").arg(depth).arg(used);
}

QString DescriptionCut()
{
    return QStringLiteral("备注太长，只保留了前 %1 个字符").arg(MaxDescriptionLength);
}

QString SealedPassword()
{
    return QStringLiteral("密码用 mRemoteNG 的自定义主密码加密，未导入密码");
}

QString DamagedPassword()
{
    return QStringLiteral("密码已损坏或加密方式不认识，未导入密码");
}

QString TooDeep(int levels)
{
    return QStringLiteral("分组嵌套超过 %1 层，不予导入（文件可能已损坏或是恶意构造的）").arg(levels);
}

} // namespace ImportText

namespace {

QString oneLine(const QString &text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar &c : out)
        if (c == u'\r' || c == u'\n' || c == u'\t')
            c = u' ';
    return out.trimmed();
}

} // namespace

QString ImportDescription(const QString &name, const QString &comment, const QString &entry,
                          std::vector<TImportNote> &notes)
{
    const QString n = oneLine(name);
    const QString c = oneLine(comment);
    QString text = c.isEmpty() ? n : n.isEmpty() ? c
                                                 : n + QStringLiteral(" — ") + c;
    if (text.size() > MaxDescriptionLength) {
        text.truncate(MaxDescriptionLength);
        if (text.back().isHighSurrogate())
            text.chop(1);
        notes.push_back({entry, ImportText::DescriptionCut()});
    }
    return text;
}

bool SetImportAddress(TClientSettings &settings, const QString &address, int port, const QString &entry,
                      std::vector<TImportNote> &skipped)
{
    if (address.trimmed().isEmpty()) {
        skipped.push_back({entry, ImportText::NoAddress()});
        return false;
    }
    const auto hostPort = ParseHostPort(address);
    if (!hostPort) {
        skipped.push_back({entry, ImportText::BadAddress(address)});
        return false;
    }
    settings.Server = hostPort->Host;
    if (hostPort->Port)
        settings.Port = hostPort->Port;
    else if (port > 0 && port < 65536)
        settings.Port = port;
    return true;
}

void SetImportSize(TClientSettings &settings, int width, int height)
{
    if (width > 0 && height > 0) {
        settings.Width = width;
        settings.Height = height;
    }
}

int ImportColorDepth(int bitsPerPixel, const QString &entry, std::vector<TImportNote> &notes)
{
    constexpr int kDefault = ColorDepthValues[DefaultColorDepthIndex];
    if (IndexOfInt(bitsPerPixel, ColorDepthValues) >= 0)
        return bitsPerPixel;
    if (bitsPerPixel == 0)
        return kDefault;
    if (bitsPerPixel > 32)
        return 32;
    notes.push_back({entry, ImportText::ColorDepthChanged(bitsPerPixel, kDefault)});
    return kDefault;
}

void ThrowUnreadable(const QString &fileName, const QString &why)
{
    throw AppError(QStringLiteral("无法导入“%1”：%2").arg(QFileInfo(fileName).fileName(), why));
}

namespace {

QString decodeStrictly(QStringConverter::Encoding encoding, QByteArrayView bytes, const QString &fileName)
{
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        ThrowUnreadable(fileName, QStringLiteral("文件的编码无法识别，或文件不完整"));
    return text;
}

} // namespace

QString DecodeImportText(const QByteArray &bytes, const QString &fileName)
{
    const QByteArrayView view(bytes);
    if (view.startsWith("\xFF\xFE") || view.startsWith("\xFE\xFF")) {
        if (view.size() % 2 != 0)
            ThrowUnreadable(fileName, QStringLiteral("文件不完整（末尾缺少半个字符）"));
        const auto encoding = view.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        return decodeStrictly(encoding, view.sliced(2), fileName);
    }
    if (view.startsWith("\xEF\xBB\xBF"))
        return decodeStrictly(QStringConverter::Utf8, view.sliced(3), fileName);
    // UTF-16 LE without a mark: ASCII text with every second byte zero.
    if (view.size() >= 2 && view[0] != 0 && view[1] == 0) {
        if (view.size() % 2 != 0)
            ThrowUnreadable(fileName, QStringLiteral("文件不完整（末尾缺少半个字符）"));
        return decodeStrictly(QStringConverter::Utf16LE, view, fileName);
    }
    if (view.contains('\0'))
        ThrowUnreadable(fileName, QStringLiteral("不是文本文件"));
    return decodeStrictly(QStringConverter::Utf8, view, fileName);
}
