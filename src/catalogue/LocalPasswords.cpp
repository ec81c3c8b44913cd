#include "LocalPasswords.h"

#include "AppError.h"
#include "Encrypt.h"
#include "ServerListLocation.h"

#include <QFile>

#include <algorithm>
#include <sys/stat.h>

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

LocalPasswords::Stamp LocalPasswords::stampOfFile() const
{
    struct stat st {};
    if (::lstat(QFile::encodeName(file_.fileName()).constData(), &st) != 0)
        return {};
    const auto ns = [](const timespec &t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; };
    return {true, st.st_ino, st.st_size, ns(st.st_mtim), ns(st.st_ctim)};
}

void LocalPasswords::read()
{
    // Stamped before reading: a change made while it is read is read again next time.
    const Stamp stamp = stampOfFile();
    QHash<int, QString> passwords;
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
    passwords_ = std::move(passwords);
    stamp_ = stamp;
    read_ = true;
}

const QHash<int, QString> &LocalPasswords::all()
{
    if (!read_ || stampOfFile() != stamp_)
        read();
    return passwords_;
}

QList<int> LocalPasswords::refresh()
{
    if (!read_) {
        read();
        return {};
    }
    if (stampOfFile() == stamp_)
        return {};
    const QHash<int, QString> before = passwords_;
    read();
    QList<int> changed;
    for (auto it = passwords_.cbegin(); it != passwords_.cend(); ++it)
        if (before.value(it.key()) != it.value())
            changed << it.key();
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (!passwords_.contains(it.key()))
            changed << it.key();
    std::sort(changed.begin(), changed.end());
    return changed;
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
