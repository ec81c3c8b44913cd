#include "RdpCertificatePrompt.h"

#include "MsgBox.h"

#include <QApplication>
#include <QPointer>

namespace {

// What is wrong with a certificate, in a line or two; empty when nothing.
QString CertificateWarnings(const RdpCertificateQuestion &q)
{
    QString lines;
    if (q.NameMismatch)
        lines += QStringLiteral("注意: 证书上的名称 (%1) 与服务器地址 %2 不符。\n")
                     .arg(q.CommonName.isEmpty() ? QStringLiteral("无") : q.CommonName, q.Host);
    if (q.SelfSigned)
        lines += QStringLiteral("注意: 这是自签名证书,没有证书颁发机构为它担保。\n");
    return lines.isEmpty() ? lines : QStringLiteral("\n") + lines;
}

} // namespace

QString CertificateQuestionText(const RdpCertificateQuestion &q)
{
    const QString server = QStringLiteral("%1:%2").arg(q.Host).arg(q.Port);
    if (!q.Changed)
        return QStringLiteral("第一次连接到此服务器，无法确认它的身份。请核对它的证书:\n\n"
                              "服务器: %1\n主题: %2\n颁发者: %3\n指纹: %4\n%5\n"
                              "是否信任此证书并记住它?")
            .arg(server, q.Subject, q.Issuer, q.Fingerprint, CertificateWarnings(q));
    return QStringLiteral("警告: 此服务器的证书已更改! 可能有人在冒充此服务器。\n\n"
                          "服务器: %1\n新证书主题: %2\n新证书颁发者: %3\n新证书指纹: %4\n"
                          "原证书主题: %5\n原证书颁发者: %6\n原证书指纹: %7\n%8\n"
                          "除非您确知此服务器的证书已被更换，否则请选择“否”。"
                          "是否接受新证书并记住它?")
        .arg(server, q.Subject, q.Issuer, q.Fingerprint, q.OldSubject, q.OldIssuer, q.OldFingerprint,
             CertificateWarnings(q));
}

RdpCertificatePrompt::RdpCertificatePrompt(QObject *parent) : QObject(parent) {}

void RdpCertificatePrompt::Ask(const RdpCertificateQuestion &question)
{
    const QString text = CertificateQuestionText(question);
    const QMessageBox::Icon icon = question.Changed ? QMessageBox::Warning : QMessageBox::Question;
    QPointer<RdpCertificatePrompt> alive(this);
    QMetaObject::invokeMethod(
        qApp,
        [alive, text, icon] {
            // The box stands on its own: its parent might go while it is open.
            const bool ask = alive && !alive->withdrawn_;
            const auto answer = ask ? ShowMessageBox(nullptr, text, icon, QMessageBox::Yes | QMessageBox::No)
                                    : QMessageBox::No;
            if (alive)
                emit alive->Answered(!alive->withdrawn_ && answer == QMessageBox::Yes);
        },
        Qt::QueuedConnection);
}

void RdpCertificatePrompt::Withdraw()
{
    withdrawn_ = true;
}
