#include "ServerAddress.h"

QString ServerFieldProblem(const QString &server)
{
    const QString address = server.trimmed();
    if (address.startsWith(QLatin1Char('|')) || address.startsWith(QLatin1Char('/')))
        return QStringLiteral("无效的服务器地址: %1\n地址不能以 \"|\" 或 \"/\" 开头,请填写服务器的 IP 地址或网址")
            .arg(server);
    return {};
}

QString PortProblem(int port)
{
    if (port < 1 || port > 65535)
        return QStringLiteral("无效的端口: %1\n端口必须在 1 到 65535 之间").arg(port);
    return {};
}
