// The causes of a session's end, from what the library and the connection tell.
#include "RdpEndCause.h"

#include <freerdp/error.h>
#include <freerdp/freerdp.h>

namespace {

QString WithName(const QString &cause, const char *name)
{
    if (!name || !*name)
        return cause;
    return cause + QStringLiteral(" (%1)").arg(QString::fromLatin1(name));
}

QString LicensingCause(uint32_t code)
{
    switch (code) {
    case ERRINFO_LICENSE_NO_LICENSE_SERVER: return QStringLiteral("服务器找不到许可证服务器");
    case ERRINFO_LICENSE_NO_LICENSE: return QStringLiteral("服务器没有可分配给此计算机的客户端访问许可证");
    case ERRINFO_LICENSE_NO_REMOTE_CONNECTIONS: return QStringLiteral("服务器不接受更多的远程连接 (许可证)");
    }
    return QStringLiteral("服务器的许可证协议出错");
}

QString ConnectFailureCause(RdpConnectFailure failure)
{
    switch (failure) {
    case RdpConnectFailure::NameNotFound: return QStringLiteral("找不到服务器名称");
    case RdpConnectFailure::Refused: return QStringLiteral("连接被拒绝");
    case RdpConnectFailure::Unreachable: return QStringLiteral("无法访问服务器所在的网络");
    case RdpConnectFailure::Failed: return QStringLiteral("无法连接到服务器");
    case RdpConnectFailure::None: break;
    }
    return {};
}

} // namespace

bool RdpEndMentionsAuthentication(const RdpEndFacts &f)
{
    return f.State == QLatin1String("CONNECTION_STATE_NLA") || f.LogText.contains(QLatin1String("nla"), Qt::CaseInsensitive)
        || f.LogText.contains(QLatin1String("authenticat"), Qt::CaseInsensitive)
        || f.LogText.contains(QLatin1String("credssp"), Qt::CaseInsensitive);
}

namespace {

bool MentionsChannel(const QString &logText)
{
    return logText.contains(QLatin1String("channel"), Qt::CaseInsensitive)
        || logText.contains(QLatin1String("cliprdr"), Qt::CaseInsensitive)
        || logText.contains(QLatin1String("drdynvc"), Qt::CaseInsensitive)
        || logText.contains(QLatin1String("rdpdr"), Qt::CaseInsensitive);
}

QString ClientErrorCause(const RdpEndFacts &f)
{
    switch (f.ClientError) {
    case FREERDP_ERROR_DNS_NAME_NOT_FOUND:
    case FREERDP_ERROR_DNS_ERROR:
        return QStringLiteral("找不到服务器名称");
    case FREERDP_ERROR_CONNECT_FAILED:
        return QStringLiteral("无法连接到服务器");
    case FREERDP_ERROR_TLS_CONNECT_FAILED:
        return QStringLiteral("安全连接 (TLS) 失败");
    case FREERDP_ERROR_CONNECT_CANCELLED:
        return QStringLiteral("连接已取消");
    case FREERDP_ERROR_AUTHENTICATION_FAILED:
    case FREERDP_ERROR_CONNECT_LOGON_FAILURE:
    case FREERDP_ERROR_CONNECT_WRONG_PASSWORD:
    case FREERDP_ERROR_CONNECT_ACCESS_DENIED:
        return QStringLiteral("身份验证失败:用户名或密码错误");
    case FREERDP_ERROR_CONNECT_NO_OR_MISSING_CREDENTIALS:
        return QStringLiteral("缺少用户名或密码");
    case FREERDP_ERROR_CONNECT_ACCOUNT_DISABLED:
    case FREERDP_ERROR_CONNECT_ACCOUNT_RESTRICTION:
    case FREERDP_ERROR_CONNECT_ACCOUNT_LOCKED_OUT:
    case FREERDP_ERROR_CONNECT_ACCOUNT_EXPIRED:
    case FREERDP_ERROR_CONNECT_LOGON_TYPE_NOT_GRANTED:
        return QStringLiteral("账户不可用");
    case FREERDP_ERROR_CONNECT_PASSWORD_EXPIRED:
    case FREERDP_ERROR_CONNECT_PASSWORD_CERTAINLY_EXPIRED:
    case FREERDP_ERROR_CONNECT_PASSWORD_MUST_CHANGE:
        return QStringLiteral("密码已过期");
    case FREERDP_ERROR_SECURITY_NEGO_CONNECT_FAILED:
        return QStringLiteral("与服务器协商安全协议失败");
    case FREERDP_ERROR_INSUFFICIENT_PRIVILEGES:
        return QStringLiteral("此用户没有远程登录的权限");
    case FREERDP_ERROR_SERVER_DENIED_CONNECTION:
        return QStringLiteral("服务器拒绝了连接");
    case FREERDP_ERROR_CONNECT_TRANSPORT_FAILED:
        if (f.WasConnected)
            return QStringLiteral("连接已中断");
        if (f.LogText.contains(QLatin1String("refused"), Qt::CaseInsensitive))
            return QStringLiteral("连接被拒绝");
        if (RdpEndMentionsAuthentication(f))
            return QStringLiteral("身份验证失败:用户名或密码错误");
        return QStringLiteral("服务器在建立连接时断开了连接");
    }
    if (f.ClientError >= FREERDP_ERROR_PRE_CONNECT_FAILED && f.ClientError <= FREERDP_ERROR_POST_CONNECT_FAILED)
        return QStringLiteral("客户端无法准备会话");
    return f.WasConnected ? QStringLiteral("连接已中断") : QStringLiteral("连接失败");
}

// The library stopped without an error of its own: a channel or a message it
// could not handle.
QString SilentEndCause(const RdpEndFacts &f)
{
    QString cause;
    if (MentionsChannel(f.LogText))
        cause = QStringLiteral("虚拟通道出错,会话已结束");
    else if (f.WasConnected)
        cause = QStringLiteral("客户端无法处理服务器发来的数据,会话已结束");
    else
        cause = QStringLiteral("连接失败");
    if (!f.LogText.isEmpty())
        cause += QStringLiteral(" (%1)").arg(f.LogText.left(160));
    return cause;
}

} // namespace

QString RdpErrorInfoCause(uint32_t code)
{
    QString cause;
    switch (code) {
    case 0: return {};
    case ERRINFO_RPC_INITIATED_DISCONNECT: cause = QStringLiteral("服务器上的管理员断开了会话"); break;
    case ERRINFO_RPC_INITIATED_LOGOFF: cause = QStringLiteral("服务器上的管理员注销了会话"); break;
    case ERRINFO_IDLE_TIMEOUT: cause = QStringLiteral("会话空闲的时间超过了服务器的限制"); break;
    case ERRINFO_LOGON_TIMEOUT: cause = QStringLiteral("会话的时间超过了服务器的限制"); break;
    case ERRINFO_DISCONNECTED_BY_OTHER_CONNECTION: cause = QStringLiteral("另一个连接接管了此会话"); break;
    case ERRINFO_OUT_OF_MEMORY: cause = QStringLiteral("服务器内存不足"); break;
    case ERRINFO_SERVER_DENIED_CONNECTION: cause = QStringLiteral("服务器拒绝了连接"); break;
    case ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES: cause = QStringLiteral("此用户没有远程登录的权限"); break;
    case ERRINFO_SERVER_FRESH_CREDENTIALS_REQUIRED: cause = QStringLiteral("服务器要求重新输入用户名和密码"); break;
    case ERRINFO_RPC_INITIATED_DISCONNECT_BY_USER: cause = QStringLiteral("服务器上的用户断开了会话"); break;
    case ERRINFO_LOGOFF_BY_USER: cause = QStringLiteral("用户已注销"); break;
    default:
        if (code >= ERRINFO_LICENSE_INTERNAL && code <= ERRINFO_LICENSE_CANT_UPGRADE_LICENSE + 1)
            cause = LicensingCause(code);
        else if (code >= 0x1000 && code <= 0x7FFF)
            cause = QStringLiteral("服务器报告协议错误");
        else
            cause = QStringLiteral("服务器报告错误 0x%1").arg(code, 0, 16);
    }
    return WithName(cause, freerdp_get_error_info_name(code));
}

QString RdpEndCause(const RdpEndFacts &f)
{
    if (f.CertificateRefused)
        return QStringLiteral("您拒绝了服务器的证书,连接已取消");
    if (f.ErrorInfo != 0)
        return RdpErrorInfoCause(f.ErrorInfo);
    if (f.Link == RdpLinkEnd::Lost)
        return QStringLiteral("与服务器的网络连接中断 (服务器没有响应)");
    if (!f.WasConnected && f.Connect != RdpConnectFailure::None)
        return ConnectFailureCause(f.Connect);
    if (f.ClientError == FREERDP_ERROR_SUCCESS)
        return SilentEndCause(f);
    return WithName(ClientErrorCause(f), freerdp_get_last_error_name(f.ClientError));
}
