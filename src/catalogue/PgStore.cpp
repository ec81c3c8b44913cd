#include "PgStore.h"

#include "AppError.h"
#include "CatalogueConflict.h"
#include "CatalogueLimits.h"
#include "LocalPasswords.h"
#include "PgSchema.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include <libpq-fe.h>

#include <dlfcn.h>

#include <algorithm>
#include <optional>
#include <atomic>
#include <set>

namespace {

const QString kServerColumns = QStringLiteral(
    "id, group_id, description, address, port, domain, user_name, width, height, full_screen, color_depth");
// The same columns as read: no text longer than the program takes leaves the
// database, however long a row that an older version or another tool wrote.
const QString kServerReadColumns =
    QStringLiteral("id, group_id, left(description, %1), left(address, %1), port, left(domain, %1), left(user_name, %1),"
                   " width, height, full_screen, color_depth, row_version")
        .arg(CatalogueTextLimit);
constexpr int kServerVersionColumn = 11;
const QString kGroupReadColumns = QStringLiteral("id, left(name, %1), row_version").arg(CatalogueTextLimit);
constexpr int kGroupVersionColumn = 2;

// A server as read with kServerReadColumns, without its password.
TSvrItem serverFromRow(const QSqlQuery &query)
{
    TSvrItem server;
    server.Id = query.value(0).toInt();
    server.Group.GroupId = query.value(1).toInt();
    server.Description = query.value(2).toString();
    TClientSettings &s = server.ClntSett;
    s.Server = query.value(3).toString();
    s.Port = query.value(4).toInt();
    s.Domain = query.value(5).toString();
    s.User = query.value(6).toString();
    s.Width = query.value(7).toInt();
    s.Height = query.value(8).toInt();
    s.FullScreen = query.value(9).toBool();
    s.ColorDepth = query.value(10).toInt();
    return server;
}

TSvrGroup groupFromRow(const QSqlQuery &query)
{
    return TSvrGroup{query.value(0).toInt(), query.value(1).toString()};
}

// A statement the database refused, with its reason.
struct DbFailure {
    QString reason;
    QString state = {}; // the SQLSTATE, where the database gave one
};

// An id another writer took first: a row inserted with an id of its own choosing.
const QString kUniqueViolation = QStringLiteral("23505");
constexpr int kCollisionRetries = 5;

QString reasonOf(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    return text;
}

QSqlQuery run(const QSqlDatabase &db, const QString &sql, const QVariantList &binds = {})
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const bool ok = binds.isEmpty() ? query.exec(sql) : (query.prepare(sql) && [&] {
        for (const QVariant &value : binds)
            query.addBindValue(value);
        return query.exec();
    }());
    if (!ok) {
        const QString reason = reasonOf(query.lastError());
        const QString state = query.lastError().nativeErrorCode();
        // Ended here, so that the statement can be released in a connection that is usable again.
        QSqlDatabase(db).rollback();
        throw DbFailure{reason, state};
    }
    return query;
}

// A text for the database: never NULL, an empty one stays empty.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QString idArray(std::span<const int> ids)
{
    QStringList texts;
    texts.reserve(qsizetype(ids.size()));
    for (int id : ids)
        texts << QString::number(id);
    return QLatin1Char('{') + texts.join(QLatin1Char(',')) + QLatin1Char('}');
}

QJsonObject serverRow(const TSvrItem &server, int id)
{
    const TClientSettings &s = server.ClntSett;
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("group_id"), server.Group.GroupId},
                       {QStringLiteral("description"), server.Description},
                       {QStringLiteral("address"), s.Server},
                       {QStringLiteral("port"), s.Port},
                       {QStringLiteral("domain"), s.Domain},
                       {QStringLiteral("user_name"), s.User},
                       {QStringLiteral("width"), s.Width},
                       {QStringLiteral("height"), s.Height},
                       {QStringLiteral("full_screen"), s.FullScreen},
                       {QStringLiteral("color_depth"), s.ColorDepth}};
}

// The id of the catalogue from its one schema row, checked before it names a file.
QString catalogueIdOf(const QSqlDatabase &connection)
{
    QSqlQuery query = run(connection, QStringLiteral("SELECT catalogue_id FROM catalogue_schema LIMIT 2"));
    if (!query.next())
        throw DbFailure{QStringLiteral("catalogue_schema is empty")};
    const QString id = query.value(0).toString();
    if (query.next())
        throw DbFailure{QStringLiteral("catalogue_schema has more than one row")};
    if (!LocalPasswords::IsCatalogueId(id))
        LocalPasswords::FileFor(id); // throws, saying why
    return id;
}

struct Address {
    QString host, database, user, password, options;
    int port = 5432;
};

std::optional<Address> parse(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("postgresql") && url.scheme() != QLatin1String("postgres")))
        return std::nullopt;
    Address a;
    a.host = url.host();
    a.port = url.port(5432);
    a.database = url.path().mid(1);
    a.user = url.userName();
    a.password = url.password();
    // Every wait is bounded: a connection attempt by connect_timeout, a silent peer by
    // the keep-alives (idle or not) and tcp_user_timeout (data left unacknowledged),
    // a statement the server is still running by statement_timeout.
    QStringList options{QStringLiteral("connect_timeout=2"),
                        QStringLiteral("application_name=brennic"),
                        QStringLiteral("keepalives_idle=2"),
                        QStringLiteral("keepalives_interval=1"),
                        QStringLiteral("keepalives_count=2"),
                        QStringLiteral("tcp_user_timeout=4000"),
                        QStringLiteral("options='-c statement_timeout=5000'")};
    for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("host"))
            a.host = value;
        else if (key == QLatin1String("port"))
            a.port = value.toInt();
        else
            options << key + QLatin1Char('=') + value;
    }
    a.options = options.join(QLatin1Char(';'));
    return a;
}

} // namespace

PgStore::PgStore(const QString &address)
    : connectionName_(QStringLiteral("brennic-catalogue-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      location_(Describe(address))
{
    const std::optional<Address> parts = parse(address);
    if (location_.isEmpty() || !parts)
        location_ = address;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName_);
    if (parts) {
        db.setHostName(parts->host);
        db.setPort(parts->port);
        db.setDatabaseName(parts->database);
        db.setUserName(parts->user);
        db.setPassword(parts->password);
        db.setConnectOptions(parts->options);
    }
    watch_.setInterval(500);
    connect(&watch_, &QTimer::timeout, this, &PgStore::watch);
    flush_.setSingleShot(true);
    flush_.setInterval(0);
    connect(&flush_, &QTimer::timeout, this, &PgStore::flushNotifications);
}

PgStore::~PgStore()
{
    {
        QSqlDatabase connection = db();
        connection.close();
    }
    QSqlDatabase::removeDatabase(connectionName_);
}

QString PgStore::Describe(const QString &address)
{
    QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("postgresql") && url.scheme() != QLatin1String("postgres")))
        return {};
    url.setPassword({});
    return url.toString();
}

QSqlDatabase PgStore::db() const
{
    return QSqlDatabase::database(connectionName_, false);
}

// Connects, brings the tables up to date and listens. Throws AppError when the
// database cannot be reached or refuses.
void PgStore::open()
{
    QSqlDatabase connection = db();
    if (!connection.isValid())
        throw AppError(QStringLiteral("无法使用 PostgreSQL 数据库：本机缺少 Qt 的 PostgreSQL 驱动（QPSQL）。"));
    if (!connection.open())
        throw AppError(QStringLiteral("无法连接服务器目录数据库 %1：\n%2").arg(location_, reasonOf(connection.lastError())));
    try {
        UpgradeCatalogueSchema(connection);
        useCatalogueId(catalogueIdOf(connection));
    } catch (const DbFailure &failure) {
        connection.close();
        throw AppError(QStringLiteral("无法读取服务器目录数据库 %1：\n%2").arg(location_, failure.reason));
    } catch (const AppError &error) {
        connection.close();
        throw AppError(QStringLiteral("无法使用服务器目录数据库 %1：\n%2").arg(location_, error.message()));
    }
    QSqlDriver *driver = connection.driver();
    disconnect(driver, nullptr, this, nullptr);
    connect(driver, &QSqlDriver::notification, this,
            [this](const QString &name, QSqlDriver::NotificationSource source, const QVariant &payload) {
                onNotification(name, payload, source == QSqlDriver::SelfSource);
            });
    driver->subscribeToNotification(CatalogueChannel());
    online_ = true;
    offlineReason_.clear();
}

// The password file follows the catalogue's id; an id that changes while the program
// runs would silently hand the user another file, and is refused.
void PgStore::useCatalogueId(const QString &id)
{
    if (!passwords_) {
        catalogueId_ = id;
        passwords_ = std::make_unique<LocalPasswords>(LocalPasswords::FileFor(id));
    } else if (id != catalogueId_) {
        throw AppError(QStringLiteral("数据库中的目录标识在本程序运行期间被改变了（原为 %1），拒绝继续使用该数据库。").arg(catalogueId_));
    }
}

void PgStore::ensureOpen()
{
    if (!opened_) {
        opened_ = true;
        watch_.start();
        try {
            open();
        } catch (const AppError &error) {
            goOffline(error.message());
            throw;
        }
        return;
    }
    if (!online_)
        throw AppError(QStringLiteral("与服务器目录数据库的连接已断开，正在重新连接；在此之前服务器列表只能查看，不能修改。\n%1")
                           .arg(offlineReason_));
}

QString PgStore::passwordFile()
{
    ensureOpen();
    return passwords_->fileName();
}

namespace {

// The state of the SQL driver's own libpq connection. The program does not link
// libpq, which with its Kerberos, LDAP and SASL libraries would cost every start
// of the program, database or not: the driver plugin has loaded it by the time a
// connection is open, and the one function needed here is found there.
ConnStatusType StatusOf(const PGconn *conn)
{
    using Status = ConnStatusType (*)(const PGconn *);
    static std::atomic<Status> status{nullptr};
    if (!status) {
        if (void *libpq = dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD))
            status = reinterpret_cast<Status>(dlsym(libpq, "PQstatus"));
    }
    const Status function = status;
    return function ? function(conn) : CONNECTION_BAD;
}

} // namespace

bool PgStore::connectionLost() const
{
    const QSqlDatabase connection = db();
    if (!connection.isOpen())
        return true;
    const QVariant handle = connection.driver()->handle();
    auto *conn = handle.isValid() ? *static_cast<PGconn *const *>(handle.constData()) : nullptr;
    return !conn || StatusOf(conn) == CONNECTION_BAD;
}

void PgStore::goOffline(const QString &reason)
{
    const bool wasOnline = online_;
    online_ = false;
    offlineReason_ = reason;
    {
        QSqlDatabase connection = db();
        if (connection.isOpen()) {
            disconnect(connection.driver(), nullptr, this, nullptr);
            connection.close();
        }
    }
    if (wasOnline || !everOnline_) {
        everOnline_ = true;
        emit availability(false, reason);
    }
}

// Every half second: a connection that broke is given up; a lost one is tried again.
void PgStore::watch()
{
    if (online_) {
        if (connectionLost())
            goOffline(QStringLiteral("与数据库服务器的连接已中断。"));
        else
            checkPasswords();
        return;
    }
    QElapsedTimer attempt;
    attempt.start();
    try {
        open();
    } catch (const AppError &error) {
        offlineReason_ = error.message();
        // A server that refuses at once is tried again soon; one that lets the attempt
        // wait for its time-out (a host gone from the network) is tried less often,
        // since the window waits with it.
        watch_.setInterval(attempt.elapsed() > 250 ? 10000 : 500);
        return;
    }
    watch_.setInterval(500);
    emit availability(true, {});
}

// Passwords another running copy of the program saved for this catalogue reach
// the servers in memory as a change of theirs.
void PgStore::checkPasswords()
{
    if (!passwords_)
        return;
    QList<int> changed;
    try {
        changed = passwords_->refresh();
    } catch (const AppError &) {
        return; // an unreadable file is reported when a password is saved
    }
    if (!changed.isEmpty())
        emit changedElsewhere(CatalogueKind::Server, CatalogueVerb::Changed, changed);
}

void PgStore::onNotification(const QString &name, const QVariant &payload, bool fromSelf)
{
    if (fromSelf || name != CatalogueChannel())
        return;
    const QStringList words = payload.toString().split(QLatin1Char(' '));
    if (words.size() != 3)
        return;
    static const QHash<QString, CatalogueVerb> verbs{{QStringLiteral("added"), CatalogueVerb::Added},
                                                     {QStringLiteral("changed"), CatalogueVerb::Changed},
                                                     {QStringLiteral("moved"), CatalogueVerb::Moved},
                                                     {QStringLiteral("deleted"), CatalogueVerb::Deleted}};
    bool ok = false;
    const int id = words[2].toInt(&ok);
    if (!ok || !verbs.contains(words[1]))
        return;
    const CatalogueKind kind = words[0] == QLatin1String("group") ? CatalogueKind::Group : CatalogueKind::Server;
    pending_.append(Notice{kind, verbs.value(words[1]), id});
    flush_.start();
}

// Passes on the changes that arrived together, runs of one kind and verb as one.
void PgStore::flushNotifications()
{
    const QList<Notice> notices = std::exchange(pending_, {});
    for (qsizetype i = 0; i < notices.size();) {
        QList<int> ids;
        qsizetype j = i;
        for (; j < notices.size() && notices[j].kind == notices[i].kind && notices[j].verb == notices[i].verb; ++j)
            ids << notices[j].id;
        emit changedElsewhere(notices[i].kind, notices[i].verb, ids);
        i = j;
    }
}

void PgStore::write(const std::function<void()> &change, const QString &idsOf)
{
    ensureOpen();
    QSqlDatabase connection = db();
    QString reason;
    for (int attempt = 0;; ++attempt) {
        QString state;
        if (!connection.transaction()) {
            reason = reasonOf(connection.lastError());
            break;
        }
        try {
            change();
            if (connection.commit())
                return;
            reason = reasonOf(connection.lastError());
        } catch (const DbFailure &failure) {
            reason = failure.reason;
            state = failure.state;
        } catch (...) {
            connection.rollback();
            throw;
        }
        connection.rollback();
        if (state != kUniqueViolation || idsOf.isEmpty() || attempt == kCollisionRetries || !followIdsInUse(idsOf))
            break;
    }
    if (connectionLost())
        goOffline(reason);
    throw AppError(QStringLiteral("Unable to write to %1\n%2").arg(location_, reason));
}

std::vector<int> PgStore::takeIds(const QString &sequence, int count)
{
    std::vector<int> ids;
    QSqlQuery query = run(db(), QStringLiteral("SELECT nextval('%1') FROM generate_series(1, %2)").arg(sequence).arg(count));
    while (query.next())
        ids.push_back(query.value(0).toInt());
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Moves the table's sequence up to the largest id in use; false when the database refuses.
bool PgStore::followIdsInUse(const QString &table)
{
    try {
        if (const int highest = highestId(table); highest > 0)
            run(db(), QStringLiteral("SELECT setval('%1_id_seq', ?)").arg(table), {highest});
        return true;
    } catch (const DbFailure &) {
        return false;
    }
}

int PgStore::highestId(const QString &table)
{
    QSqlQuery query = run(db(), QStringLiteral("SELECT CASE WHEN is_called THEN last_value ELSE last_value - 1 END,"
                                               " (SELECT coalesce(max(id), 0) FROM %1) FROM %1_id_seq")
                                    .arg(table));
    return query.next() ? std::max(query.value(0).toInt(), query.value(1).toInt()) : 0;
}

std::vector<TSvrGroup> PgStore::selectGroups(const QString &where, const QVariantList &binds)
{
    std::vector<TSvrGroup> groups;
    QSqlQuery query = run(db(), QStringLiteral("SELECT %1 FROM catalogue_group %2 ORDER BY id").arg(kGroupReadColumns, where), binds);
    while (query.next()) {
        groups.push_back(groupFromRow(query));
        groupVersions_.insert(groups.back().GroupId, query.value(kGroupVersionColumn).toInt());
    }
    return groups;
}

std::vector<TSvrItem> PgStore::selectServers(const QString &where, const QVariantList &binds)
{
    std::vector<TSvrItem> servers;
    QSqlQuery query =
        run(db(), QStringLiteral("SELECT %1 FROM catalogue_server %2 ORDER BY id").arg(kServerReadColumns, where), binds);
    const QHash<int, QString> &passwords = passwords_->all();
    while (query.next()) {
        TSvrItem &server = servers.emplace_back(serverFromRow(query));
        server.ClntSett.Password = passwords.value(server.Id);
        serverVersions_.insert(server.Id, query.value(kServerVersionColumn).toInt());
    }
    return servers;
}

int PgStore::recordVersion(CatalogueKind kind, int id) const
{
    return (kind == CatalogueKind::Group ? groupVersions_ : serverVersions_).value(id, 0);
}

std::vector<TSvrGroup> PgStore::readGroups(int &maxGroupId)
{
    ensureOpen();
    try {
        maxGroupId = highestId(QStringLiteral("catalogue_group"));
        return selectGroups({}, {});
    } catch (const DbFailure &failure) {
        throw AppError(QStringLiteral("无法读取服务器目录数据库 %1：\n%2").arg(location_, failure.reason));
    }
}

std::vector<TSvrItem> PgStore::readServers(int &maxServerId)
{
    ensureOpen();
    try {
        maxServerId = highestId(QStringLiteral("catalogue_server"));
        return selectServers({}, {});
    } catch (const DbFailure &failure) {
        throw AppError(QStringLiteral("无法读取服务器目录数据库 %1：\n%2").arg(location_, failure.reason));
    }
}

std::vector<TSvrGroup> PgStore::fetchGroups(std::span<const int> ids)
{
    ensureOpen();
    try {
        return selectGroups(QStringLiteral("WHERE id = ANY(?::integer[])"), {idArray(ids)});
    } catch (const DbFailure &failure) {
        throw AppError(QStringLiteral("无法读取服务器目录数据库 %1：\n%2").arg(location_, failure.reason));
    }
}

std::vector<TSvrItem> PgStore::fetchServers(std::span<const int> ids)
{
    ensureOpen();
    try {
        return selectServers(QStringLiteral("WHERE id = ANY(?::integer[])"), {idArray(ids)});
    } catch (const DbFailure &failure) {
        throw AppError(QStringLiteral("无法读取服务器目录数据库 %1：\n%2").arg(location_, failure.reason));
    }
}

int PgStore::addGroup(const QString &name, int)
{
    int id = 0;
    int version = 0;
    write(
        [&] {
            QSqlQuery query =
                run(db(), QStringLiteral("INSERT INTO catalogue_group (name) VALUES (?) RETURNING id, row_version"), {text(name)});
            if (query.next()) {
                id = query.value(0).toInt();
                version = query.value(1).toInt();
            }
        },
        QStringLiteral("catalogue_group"));
    groupVersions_.insert(id, version);
    return id;
}

int PgStore::registerGroup(const TSvrGroup &group, int heldMax)
{
    int counter = heldMax;
    int version = 0;
    write([&] {
        counter = std::max(heldMax, highestId(QStringLiteral("catalogue_group")));
        QSqlQuery query = run(db(),
                              QStringLiteral("INSERT INTO catalogue_group (id, name) VALUES (?, ?)"
                                             " ON CONFLICT (id) DO UPDATE SET name = EXCLUDED.name RETURNING row_version"),
                              {group.GroupId, text(group.GroupName)});
        version = query.next() ? query.value(0).toInt() : 0;
        if (group.GroupId > counter)
            run(db(), QStringLiteral("SELECT setval('catalogue_group_id_seq', ?)"), {group.GroupId});
        counter = std::max(counter, group.GroupId);
    });
    groupVersions_.insert(group.GroupId, version);
    return counter;
}

void PgStore::renameGroup(int groupId, const QString &name)
{
    renameGroupChecked(groupId, name, 0);
}

void PgStore::renameGroupChecked(int groupId, const QString &name, int version)
{
    std::optional<std::pair<TSvrGroup, int>> theirs;
    int newVersion = 0;
    write([&] {
        theirs.reset();
        if (version > 0) {
            QSqlQuery current = run(
                db(), QStringLiteral("SELECT %1 FROM catalogue_group WHERE id = ? FOR UPDATE").arg(kGroupReadColumns), {groupId});
            if (current.next() && current.value(kGroupVersionColumn).toInt() != version) {
                theirs.emplace(groupFromRow(current), current.value(kGroupVersionColumn).toInt());
                return;
            }
        }
        QSqlQuery query =
            run(db(), QStringLiteral("UPDATE catalogue_group SET name = ? WHERE id = ? RETURNING row_version"), {text(name), groupId});
        newVersion = query.next() ? query.value(0).toInt() : 0;
    });
    if (theirs) {
        groupVersions_.insert(groupId, theirs->second);
        throw EGroupChanged(theirs->first, theirs->second);
    }
    if (newVersion > 0)
        groupVersions_.insert(groupId, newVersion);
}

void PgStore::deleteGroup(int groupId)
{
    write([&] { run(db(), QStringLiteral("DELETE FROM catalogue_group WHERE id = ?"), {groupId}); });
    groupVersions_.remove(groupId);
}

std::vector<int> PgStore::addServers(std::span<const TSvrItem> servers, int)
{
    std::vector<int> ids;
    write(
        [&] {
            ids = takeIds(QStringLiteral("catalogue_server_id_seq"), int(servers.size()));
            insertServers(servers, ids);
        },
        QStringLiteral("catalogue_server"));
    for (int id : ids)
        serverVersions_.insert(id, 1); // a new row's first version
    return ids;
}

// One statement for all the servers, under the ids given; their passwords into this
// user's file before the transaction ends, so that a file that cannot be written
// leaves the database as it was.
void PgStore::insertServers(std::span<const TSvrItem> servers, const std::vector<int> &ids)
{
    QJsonArray rows;
    std::vector<std::pair<int, QString>> passwords;
    for (size_t i = 0; i < servers.size(); ++i) {
        rows.append(serverRow(servers[i], ids[i]));
        if (!servers[i].ClntSett.Password.isEmpty())
            passwords.emplace_back(ids[i], servers[i].ClntSett.Password);
    }
    run(db(),
        QStringLiteral("INSERT INTO catalogue_server (%1) SELECT %1 FROM json_to_recordset(?::json) AS r("
                       "id integer, group_id integer, description text, address text, port integer, domain text,"
                       " user_name text, width integer, height integer, full_screen boolean, color_depth integer)")
            .arg(kServerColumns),
        {QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact))});
    passwords_->set(passwords);
}

bool PgStore::writeServer(const TSvrItem &server)
{
    return writeServerChecked(server, 0);
}

// The row is held from the check to the write, so that no change slips in between.
bool PgStore::writeServerChecked(const TSvrItem &server, int version)
{
    std::optional<std::pair<TSvrItem, int>> theirs;
    int newVersion = 0;
    write([&] {
        theirs.reset();
        newVersion = 0;
        if (version > 0) {
            QSqlQuery current = run(
                db(), QStringLiteral("SELECT %1 FROM catalogue_server WHERE id = ? FOR UPDATE").arg(kServerReadColumns), {server.Id});
            if (!current.next())
                return;
            if (current.value(kServerVersionColumn).toInt() != version) {
                theirs.emplace(serverFromRow(current), current.value(kServerVersionColumn).toInt());
                return;
            }
        }
        const TClientSettings &s = server.ClntSett;
        QSqlQuery query = run(db(),
                              QStringLiteral("UPDATE catalogue_server SET group_id = ?, description = ?, address = ?,"
                                             " port = ?, domain = ?, user_name = ?, width = ?, height = ?,"
                                             " full_screen = ?, color_depth = ? WHERE id = ? RETURNING row_version"),
                              {server.Group.GroupId, text(server.Description), text(s.Server), s.Port, text(s.Domain), text(s.User), s.Width,
                               s.Height, s.FullScreen, s.ColorDepth, server.Id});
        newVersion = query.next() ? query.value(0).toInt() : 0;
        if (newVersion > 0 && passwords_->password(server.Id) != s.Password)
            passwords_->set({{server.Id, s.Password}});
    });
    if (theirs) {
        theirs->first.ClntSett.Password = passwords_->password(server.Id);
        serverVersions_.insert(server.Id, theirs->second);
        throw EServerChanged(theirs->first, theirs->second);
    }
    if (newVersion > 0)
        serverVersions_.insert(server.Id, newVersion);
    return newVersion > 0;
}

void PgStore::setServerGroup(int serverId, int groupId)
{
    int version = 0;
    write([&] {
        QSqlQuery query =
            run(db(), QStringLiteral("UPDATE catalogue_server SET group_id = ? WHERE id = ? RETURNING row_version"), {groupId, serverId});
        version = query.next() ? query.value(0).toInt() : 0;
    });
    if (version > 0)
        serverVersions_.insert(serverId, version);
}

void PgStore::deleteServer(int serverId)
{
    write([&] { run(db(), QStringLiteral("DELETE FROM catalogue_server WHERE id = ?"), {serverId}); });
    serverVersions_.remove(serverId);
    try {
        passwords_->set({{serverId, QString()}});
    } catch (const AppError &) {
        // The server is gone; an entry left in the password file names no server.
    }
}

// Inside a transaction holding the table: each wanted id that the table has free,
// else a new one, given out only after the sequence has passed every kept id.
std::vector<int> PgStore::keepIdsWhereFree(const QString &table, const std::vector<int> &wanted)
{
    run(db(), QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(table));
    std::set<int> taken;
    QSqlQuery query = run(db(), QStringLiteral("SELECT id FROM %1").arg(table));
    while (query.next())
        taken.insert(query.value(0).toInt());
    std::vector<int> ids(wanted.size(), -1);
    int highest = highestId(table);
    for (size_t i = 0; i < wanted.size(); ++i)
        if (wanted[i] >= 0 && taken.insert(wanted[i]).second) {
            ids[i] = wanted[i];
            highest = std::max(highest, wanted[i]);
        }
    if (highest > 0)
        run(db(), QStringLiteral("SELECT setval('%1_id_seq', ?)").arg(table), {highest});
    const auto missing = std::count(ids.begin(), ids.end(), -1);
    if (missing > 0) {
        const std::vector<int> fresh = takeIds(table + QStringLiteral("_id_seq"), int(missing));
        auto next = fresh.begin();
        for (int &id : ids)
            if (id < 0)
                id = *next++;
    }
    return ids;
}

std::vector<int> PgStore::insertGroupsKeepingIds(std::span<const TSvrGroup> groups)
{
    std::vector<int> ids;
    write([&] {
        std::vector<int> wanted;
        for (const TSvrGroup &group : groups)
            wanted.push_back(group.GroupId);
        ids = keepIdsWhereFree(QStringLiteral("catalogue_group"), wanted);
        QJsonArray rows;
        for (size_t i = 0; i < groups.size(); ++i)
            rows.append(QJsonObject{{QStringLiteral("id"), ids[i]}, {QStringLiteral("name"), groups[i].GroupName}});
        run(db(),
            QStringLiteral("INSERT INTO catalogue_group (id, name)"
                           " SELECT id, name FROM json_to_recordset(?::json) AS r(id integer, name text)"),
            {QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact))});
    });
    return ids;
}

std::vector<int> PgStore::insertServersKeepingIds(std::span<const TSvrItem> servers)
{
    std::vector<int> ids;
    write([&] {
        std::vector<int> wanted;
        for (const TSvrItem &server : servers)
            wanted.push_back(server.Id);
        ids = keepIdsWhereFree(QStringLiteral("catalogue_server"), wanted);
        insertServers(servers, ids);
    });
    return ids;
}
