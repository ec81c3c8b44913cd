#include "KeyringMove.h"

#include "AppError.h"
#include "Catalogue.h"
#include "Keyring.h"

#include <QSet>

QString KeyringMoveReport::summary() const
{
    QString text = intoKeyring ? QStringLiteral("已将 %1 个密码移入系统密钥环。").arg(moved)
                               : QStringLiteral("已将 %1 个密码移回服务器列表文件。").arg(moved);
    if (unavailable)
        text += QStringLiteral("\n没有运行系统密钥环，密码仍保存在文件中。");
    if (!failed.isEmpty())
        text += QStringLiteral("\n以下服务器的密码未能移动，仍保存在原处：\n") + failed.join(QLatin1Char('\n'));
    return text;
}

KeyringMove::KeyringMove(Catalogue &catalogue, Keyring &keyring, QObject *parent)
    : QObject(parent), catalogue_(&catalogue), keyring_(keyring), fields_(PasswordFields::Of(catalogue))
{
}

KeyringMove::~KeyringMove() = default;

void KeyringMove::allIntoKeyring()
{
    std::vector<Entry> entries;
    try {
        const QHash<int, QString> held = fields_->read();
        for (auto it = held.cbegin(); it != held.cend(); ++it)
            entries.push_back({it.key(), it.value()});
    } catch (const std::exception &e) {
        report_.failed << QString::fromUtf8(e.what());
    }
    startInto(std::move(entries));
}

void KeyringMove::intoKeyring(const QList<int> &serverIds)
{
    std::vector<Entry> entries;
    try {
        const QHash<int, QString> held = fields_->read();
        for (int id : QSet<int>(serverIds.begin(), serverIds.end()))
            if (held.contains(id))
                entries.push_back({id, held.value(id)});
    } catch (const std::exception &e) {
        report_.failed << QString::fromUtf8(e.what());
    }
    startInto(std::move(entries));
}

void KeyringMove::startInto(std::vector<Entry> entries)
{
    report_.intoKeyring = true;
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.serverId < b.serverId; });
    entries_ = std::move(entries);
    next_ = 0;
    writeNext();
}

void KeyringMove::writeNext()
{
    if (next_ == entries_.size()) {
        finishInto();
        return;
    }
    const Entry entry = entries_[next_++];
    keyring_.write(fields_->keyOf(entry.serverId), entry.password, [this, entry](const KeyringAnswer &answer) {
        if (stopsOn(answer))
            return finishInto();
        if (answer.ok)
            changes_.push_back({entry.serverId, entry.password, QString()});
        else
            fail(entry.serverId, answer.error);
        writeNext();
    });
}

void KeyringMove::finishInto()
{
    try {
        applied_ = fields_->replace(changes_);
        applyToMemory(applied_, true);
        report_.moved = int(applied_.size());
    } catch (const std::exception &e) {
        report_.failed << QString::fromUtf8(e.what()); // the keyring has copies; the file keeps its own
    }
    done();
}

void KeyringMove::allIntoFile()
{
    report_.intoKeyring = false;
    entries_.clear();
    try {
        const QHash<int, QString> held = fields_->read();
        if (catalogue_)
            for (const auto &server : catalogue_->GetSvrList())
                if (!held.contains(server->Id))
                    entries_.push_back({server->Id, QString()});
    } catch (const std::exception &e) {
        report_.failed << QString::fromUtf8(e.what());
    }
    next_ = 0;
    readNext();
}

void KeyringMove::readNext()
{
    if (next_ == entries_.size()) {
        finishBack();
        return;
    }
    const int id = entries_[next_++].serverId;
    keyring_.read(fields_->keyOf(id), [this, id](const KeyringAnswer &answer) {
        if (stopsOn(answer))
            return finishBack();
        if (answer.ok && !answer.password.isEmpty())
            changes_.push_back({id, QString(), answer.password});
        else if (!answer.ok && !answer.missing)
            fail(id, answer.error);
        readNext();
    });
}

void KeyringMove::finishBack()
{
    try {
        applied_ = fields_->replace(changes_);
        applyToMemory(applied_, false);
        report_.moved = int(applied_.size());
    } catch (const std::exception &e) {
        report_.failed << QString::fromUtf8(e.what()); // the keyring keeps every entry
        applied_.clear();
    }
    next_ = 0;
    removeNext();
}

void KeyringMove::removeNext()
{
    if (next_ == size_t(applied_.size())) {
        done();
        return;
    }
    const int id = applied_[qsizetype(next_++)];
    keyring_.remove(fields_->keyOf(id), [this, id](const KeyringAnswer &answer) {
        // The file holds the password already: an entry left behind loses nothing.
        if (!answer.ok)
            fail(id, QStringLiteral("已移回文件，但密钥环中的条目未能删除（%1）").arg(answer.error));
        removeNext();
    });
}

bool KeyringMove::stopsOn(const KeyringAnswer &answer)
{
    if (!answer.unavailable)
        return false;
    report_.unavailable = true;
    return true;
}

void KeyringMove::fail(int serverId, const QString &reason)
{
    PSvrItem server = catalogue_ ? catalogue_->GetSvrItem(serverId) : nullptr;
    const QString name = server ? server->ClntSett.Server : QStringLiteral("#%1").arg(serverId);
    report_.failed << QStringLiteral("%1：%2").arg(name, reason);
}

void KeyringMove::applyToMemory(const QList<int> &ids, bool cleared)
{
    if (!catalogue_)
        return;
    QHash<int, QString> passwords;
    for (const PasswordFields::Change &change : changes_)
        passwords.insert(change.serverId, change.to);
    for (int id : ids)
        if (PSvrItem server = catalogue_->GetSvrItem(id))
            server->ClntSett.Password = cleared ? QString() : passwords.value(id);
}

void KeyringMove::done()
{
    emit finished(report_);
}
