#include "ServerAddress.h"

QString VisibleAddress(const QString &server)
{
    QString shown = server;
    for (QChar &c : shown)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QChar::ReplacementCharacter;
    return shown;
}

QString ServerAddressFault(const QString &server)
{
    const QString address = server.trimmed();
    if (address.isEmpty() || IsServerAddress(address))
        return {};
    if (address.startsWith(QLatin1Char('|')) || address.startsWith(QLatin1Char('/')))
        return QStringLiteral("地址不能以 \"|\" 或 \"/\" 开头");
    return QStringLiteral("地址中不能有空格或控制字符");
}

QString ServerFieldProblem(const QString &server)
{
    const QString why = ServerAddressFault(server);
    if (why.isEmpty())
        return {};
    return QStringLiteral("无效的服务器地址: %1\n%2,请填写服务器的 IP 地址或网址").arg(VisibleAddress(server), why);
}

QString PortProblem(int port)
{
    if (port < 1 || port > 65535)
        return QStringLiteral("无效的端口: %1\n端口必须在 1 到 65535 之间").arg(port);
    return {};
}
