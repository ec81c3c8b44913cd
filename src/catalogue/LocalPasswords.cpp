#include "LocalPasswords.h"

#include "AppError.h"
#include "Encrypt.h"
#include "ServerListLocation.h"

#include <algorithm>

namespace {

const QString kPrefix = QStringLiteral("Server");
const QString kPassword = QStringLiteral("Password");

} // namespace

LocalPasswords::LocalPasswords(const QString &fileName) : file_(fileName, true) {}

bool LocalPasswords::IsCatalogueId(const QString &catalogueId)
{
    return catalogueId.size() == 32
        && std::all_of(catalogueId.begin(), catalogueId.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
           });
}

QString LocalPasswords::FileFor(const QString &catalogueId)
{
    if (!IsCatalogueId(catalogueId))
        throw AppError(QStringLiteral("数据库中的目录标识“%1”不是本程序建立的格式，可能已被篡改；为保护本机保存的密码，拒绝使用该数据库。")
                           .arg(catalogueId.left(64)));
    return PrivateConfigFolder(QStringLiteral("passwords")) + QLatin1Char('/') + catalogueId + QStringLiteral(".ini");
}

const QHash<int, QString> &LocalPasswords::all()
{
    if (read_)
        return passwords_;
    QHash<int, QString> &passwords = passwords_;
    const IniDocument &doc = file_.current();
    for (const QString &section : doc.sectionNames()) {
        if (!section.startsWith(kPrefix, Qt::CaseInsensitive))
            continue;
        bool ok = false;
        const int id = section.mid(kPrefix.size()).toInt(&ok);
        if (!ok)
            continue;
        try {
            passwords.insert(id, DecryptStr(doc.readString(section, kPassword, {})));
        } catch (const EConvertError &) {
            // A damaged entry reads as no password; the user sets it again.
        }
    }
    read_ = true;
    return passwords;
}

void LocalPasswords::set(const std::vector<std::pair<int, QString>> &passwords)
{
    if (passwords.empty())
        return;
    file_.update([&](IniDocument &doc) {
        for (const auto &[id, password] : passwords) {
            const QString section = kPrefix + QString::number(id);
            if (password.isEmpty())
                doc.eraseSection(section);
            else
                doc.writeString(section, kPassword, EncryptStr(password));
        }
    });
    for (const auto &[id, password] : passwords)
        if (password.isEmpty())
            passwords_.remove(id);
        else if (read_)
            passwords_.insert(id, password);
}
