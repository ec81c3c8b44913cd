#include "PasswordFields.h"

#include "Catalogue.h"
#include "CatalogueStore.h"
#include "Encrypt.h"
#include "IniFile.h"
#include "LocalPasswords.h"

#include <QFileInfo>

namespace {

const QString kServerPrefix = QStringLiteral("ServerItem");
const QString kPassword = QStringLiteral("Password");

// The Password keys of the server list file's ServerItem sections.
class ServerListFields : public PasswordFields {
public:
    explicit ServerListFields(const QString &fileName)
        : file_(fileName), scope_(QStringLiteral("file:") + QFileInfo(fileName).absoluteFilePath())
    {
    }

    QString keyOf(int serverId) const override { return scope_ + QLatin1Char('#') + QString::number(serverId); }

    QHash<int, QString> read() override
    {
        QHash<int, QString> passwords;
        const IniDocument &doc = file_.current();
        for (const QString &section : doc.sectionNames()) {
            const int id = idOf(section);
            if (id < 0)
                continue;
            const QString password = decoded(doc, section);
            if (!password.isEmpty())
                passwords.insert(id, password);
        }
        return passwords;
    }

    QList<int> replace(const std::vector<Change> &changes) override
    {
        QList<int> changed;
        if (changes.empty())
            return changed;
        file_.update([&](IniDocument &doc) {
            changed.clear();
            for (const Change &change : changes) {
                const QString section = kServerPrefix + QString::number(change.serverId);
                // A server deleted meanwhile is not brought back as a section with a password only.
                if (!doc.hasSection(section) || decoded(doc, section) != change.from)
                    continue;
                doc.writeString(section, kPassword, EncryptStr(change.to));
                changed << change.serverId;
            }
        });
        return changed;
    }

private:
    static int idOf(const QString &section)
    {
        if (!section.startsWith(kServerPrefix, Qt::CaseInsensitive))
            return -1;
        const QString suffix = section.mid(kServerPrefix.size());
        bool ok = false;
        const int id = suffix.toInt(&ok);
        return ok && id >= 0 && QString::number(id) == suffix ? id : -1;
    }

    // A field that cannot be decoded holds nothing that could be moved.
    static QString decoded(const IniDocument &doc, const QString &section)
    {
        try {
            return DecryptStr(doc.readString(section, kPassword, {}));
        } catch (const EConvertError &) {
            return {};
        }
    }

    IniFile file_;
    QString scope_;
};

// The user's own password file of a shared catalogue.
class LocalFields : public PasswordFields {
public:
    explicit LocalFields(const QString &fileName)
        : passwords_(fileName), scope_(QStringLiteral("catalogue:") + QFileInfo(fileName).completeBaseName())
    {
    }

    QString keyOf(int serverId) const override { return scope_ + QLatin1Char('#') + QString::number(serverId); }

    QHash<int, QString> read() override { return passwords_.all(); }

    QList<int> replace(const std::vector<Change> &changes) override
    {
        const QHash<int, QString> now = passwords_.all();
        std::vector<std::pair<int, QString>> writes;
        QList<int> changed;
        for (const Change &change : changes) {
            if (now.value(change.serverId) != change.from)
                continue;
            writes.emplace_back(change.serverId, change.to);
            changed << change.serverId;
        }
        passwords_.set(writes);
        return changed;
    }

private:
    LocalPasswords passwords_;
    QString scope_;
};

} // namespace

std::unique_ptr<PasswordFields> PasswordFields::Of(Catalogue &catalogue)
{
    const QString localFile = catalogue.Store().passwordFile();
    if (!localFile.isEmpty())
        return std::make_unique<LocalFields>(localFile);
    return std::make_unique<ServerListFields>(catalogue.Location());
}
