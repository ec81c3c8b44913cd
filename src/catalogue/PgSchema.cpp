#include "PgSchema.h"

#include "AppError.h"
#include "CatalogueLimits.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

// Step n brings the tables from version n to version n + 1.
const QStringList &upgradeStep(int from)
{
    static const QList<QStringList> steps = {
        {
            QStringLiteral("CREATE TABLE catalogue_schema (version integer NOT NULL, catalogue_id text NOT NULL)"),
            QStringLiteral("INSERT INTO catalogue_schema VALUES (0, md5(random()::text || clock_timestamp()::text))"),
            QStringLiteral("CREATE SEQUENCE catalogue_group_id_seq AS integer MINVALUE 1"),
            QStringLiteral("CREATE TABLE catalogue_group ("
                           " id integer PRIMARY KEY DEFAULT nextval('catalogue_group_id_seq'),"
                           " name text NOT NULL DEFAULT '')"),
            QStringLiteral("ALTER SEQUENCE catalogue_group_id_seq OWNED BY catalogue_group.id"),
            QStringLiteral("CREATE SEQUENCE catalogue_server_id_seq AS integer MINVALUE 1"),
            QStringLiteral("CREATE TABLE catalogue_server ("
                           " id integer PRIMARY KEY DEFAULT nextval('catalogue_server_id_seq'),"
                           " group_id integer NOT NULL DEFAULT -1,"
                           " description text NOT NULL DEFAULT '',"
                           " address text NOT NULL DEFAULT '',"
                           " port integer NOT NULL DEFAULT 3389,"
                           " domain text NOT NULL DEFAULT '',"
                           " user_name text NOT NULL DEFAULT '',"
                           " width integer NOT NULL DEFAULT 1024,"
                           " height integer NOT NULL DEFAULT 768,"
                           " full_screen boolean NOT NULL DEFAULT false,"
                           " color_depth integer NOT NULL DEFAULT 24)"),
            QStringLiteral("ALTER SEQUENCE catalogue_server_id_seq OWNED BY catalogue_server.id"),
        },
        {
            QStringLiteral(
                "CREATE FUNCTION catalogue_announce() RETURNS trigger LANGUAGE plpgsql AS $$\n"
                "DECLARE\n"
                "  kind text := CASE TG_TABLE_NAME WHEN 'catalogue_group' THEN 'group' ELSE 'server' END;\n"
                "  verb text;\n"
                "  row_id integer;\n"
                "BEGIN\n"
                "  IF TG_OP = 'INSERT' THEN verb := 'added'; row_id := NEW.id;\n"
                "  ELSIF TG_OP = 'DELETE' THEN verb := 'deleted'; row_id := OLD.id;\n"
                "  ELSIF NEW.id <> OLD.id THEN\n"
                "    PERFORM pg_notify('brennic_catalogue', kind || ' deleted ' || OLD.id);\n"
                "    verb := 'added'; row_id := NEW.id;\n"
                "  ELSIF to_jsonb(NEW)->'group_id' IS DISTINCT FROM to_jsonb(OLD)->'group_id' THEN\n"
                "    verb := 'moved'; row_id := NEW.id;\n"
                "  ELSE verb := 'changed'; row_id := NEW.id;\n"
                "  END IF;\n"
                "  PERFORM pg_notify('brennic_catalogue', kind || ' ' || verb || ' ' || row_id);\n"
                "  RETURN NULL;\n"
                "END $$"),
            QStringLiteral("CREATE TRIGGER catalogue_group_announce AFTER INSERT OR UPDATE OR DELETE"
                           " ON catalogue_group FOR EACH ROW EXECUTE FUNCTION catalogue_announce()"),
            QStringLiteral("CREATE TRIGGER catalogue_server_announce AFTER INSERT OR UPDATE OR DELETE"
                           " ON catalogue_server FOR EACH ROW EXECUTE FUNCTION catalogue_announce()"),
        },
        {
            // The schema row belongs to the tables' owner: a team member who may write
            // the rows of the catalogue must not lock everyone out or move their passwords.
            QStringLiteral(
                "CREATE FUNCTION catalogue_schema_guard() RETURNS trigger LANGUAGE plpgsql AS $$\n"
                "BEGIN\n"
                "  IF NOT pg_has_role(current_user, (SELECT relowner FROM pg_class WHERE oid = TG_RELID), 'MEMBER') THEN\n"
                "    RAISE EXCEPTION 'only the owner of the catalogue may change catalogue_schema'\n"
                "      USING ERRCODE = 'insufficient_privilege';\n"
                "  END IF;\n"
                "  IF TG_LEVEL = 'STATEMENT' THEN RETURN NULL; END IF;\n"
                "  IF TG_OP = 'DELETE' THEN RETURN OLD; END IF;\n"
                "  IF (TG_OP = 'INSERT' OR NEW.catalogue_id IS DISTINCT FROM OLD.catalogue_id)\n"
                "     AND NEW.catalogue_id !~ '^[0-9a-f]{32}$' THEN\n"
                "    RAISE EXCEPTION 'a catalogue id is 32 lower-case hexadecimal digits' USING ERRCODE = 'check_violation';\n"
                "  END IF;\n"
                "  RETURN NEW;\n"
                "END $$"),
            QStringLiteral("CREATE TRIGGER catalogue_schema_guard BEFORE INSERT OR UPDATE OR DELETE"
                           " ON catalogue_schema FOR EACH ROW EXECUTE FUNCTION catalogue_schema_guard()"),
            QStringLiteral("CREATE TRIGGER catalogue_schema_guard_truncate BEFORE TRUNCATE"
                           " ON catalogue_schema FOR EACH STATEMENT EXECUTE FUNCTION catalogue_schema_guard()"),
            // Write rights an earlier setup gave on the schema table are taken back.
            QStringLiteral(
                "DO $$\n"
                "DECLARE r record;\n"
                "BEGIN\n"
                "  FOR r IN SELECT DISTINCT a.grantee FROM pg_class c, aclexplode(c.relacl) a\n"
                "           WHERE c.oid = 'catalogue_schema'::regclass AND a.grantee <> c.relowner\n"
                "             AND a.privilege_type <> 'SELECT' LOOP\n"
                "    IF r.grantee = 0 THEN\n"
                "      REVOKE INSERT, UPDATE, DELETE, TRUNCATE, TRIGGER, REFERENCES ON catalogue_schema FROM PUBLIC;\n"
                "    ELSE\n"
                "      EXECUTE format('REVOKE INSERT, UPDATE, DELETE, TRUNCATE, TRIGGER, REFERENCES ON catalogue_schema FROM %I',\n"
                "                     pg_get_userbyid(r.grantee));\n"
                "    END IF;\n"
                "  END LOOP;\n"
                "END $$"),
            // Bounded texts for new and changed rows; rows already longer stay as they are
            // (the program reads no more of them than the bound).
            QStringLiteral("ALTER TABLE catalogue_group ADD CONSTRAINT catalogue_group_lengths"
                           " CHECK (char_length(name) <= %1) NOT VALID")
                .arg(CatalogueTextLimit),
            QStringLiteral("ALTER TABLE catalogue_server ADD CONSTRAINT catalogue_server_lengths"
                           " CHECK (char_length(description) <= %1 AND char_length(address) <= %1"
                           " AND char_length(domain) <= %1 AND char_length(user_name) <= %1) NOT VALID")
                .arg(CatalogueTextLimit),
            // Every change of a row, whoever makes it, gives the row a new version, so that
            // a save can tell whether the row is still the one its dialog showed.
            QStringLiteral("ALTER TABLE catalogue_group ADD COLUMN row_version integer NOT NULL DEFAULT 1"),
            QStringLiteral("ALTER TABLE catalogue_server ADD COLUMN row_version integer NOT NULL DEFAULT 1"),
            QStringLiteral("CREATE FUNCTION catalogue_next_version() RETURNS trigger LANGUAGE plpgsql AS $$\n"
                           "BEGIN\n"
                           "  NEW.row_version := OLD.row_version % 2000000000 + 1;\n"
                           "  RETURN NEW;\n"
                           "END $$"),
            QStringLiteral("CREATE TRIGGER catalogue_group_version BEFORE UPDATE ON catalogue_group"
                           " FOR EACH ROW EXECUTE FUNCTION catalogue_next_version()"),
            QStringLiteral("CREATE TRIGGER catalogue_server_version BEFORE UPDATE ON catalogue_server"
                           " FOR EACH ROW EXECUTE FUNCTION catalogue_next_version()"),
        },
    };
    return steps.at(from);
}

void run(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        throw AppError(query.lastError().databaseText().trimmed());
}

int versionOf(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT to_regclass('catalogue_schema') IS NOT NULL")) || !query.next())
        throw AppError(query.lastError().databaseText().trimmed());
    if (!query.value(0).toBool())
        return 0;
    if (!query.exec(QStringLiteral("SELECT version FROM catalogue_schema")) || !query.next())
        throw AppError(query.lastError().databaseText().trimmed());
    return query.value(0).toInt();
}

} // namespace

QString CatalogueChannel()
{
    return QStringLiteral("brennic_catalogue");
}

int CatalogueSchemaVersionOf(QSqlDatabase &db)
{
    return versionOf(db);
}

void UpgradeCatalogueSchema(QSqlDatabase &db, int version)
{
    if (versionOf(db) == version)
        return;
    if (!db.transaction())
        throw AppError(db.lastError().databaseText().trimmed());
    try {
        run(db, QStringLiteral("SELECT pg_advisory_xact_lock(7262865)")); // one upgrading copy at a time
        int at = versionOf(db);
        if (at > CatalogueSchemaVersion)
            throw AppError(QStringLiteral("数据库中的服务器目录是本程序的更新版本（版本 %1）建立的，请先升级本程序。").arg(at));
        for (; at < version; ++at) {
            for (const QString &sql : upgradeStep(at))
                run(db, sql);
            run(db, QStringLiteral("UPDATE catalogue_schema SET version = %1").arg(at + 1));
        }
        if (!db.commit())
            throw AppError(db.lastError().databaseText().trimmed());
    } catch (...) {
        db.rollback();
        throw;
    }
}
