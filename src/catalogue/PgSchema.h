#pragma once

#include <QString>

class QSqlDatabase;

// The tables of the shared catalogue and their versions. Version 1: groups and
// servers with ids from sequences and the version table; version 2: every change
// announced on the channel CatalogueChannel() by triggers, as "<group|server>
// <added|changed|moved|deleted> <id>"; version 3: the schema row can be changed by
// the tables' owner alone, and its catalogue id has the form the program makes.
inline constexpr int CatalogueSchemaVersion = 3;
QString CatalogueChannel();

// Brings the database's tables up to `version` (the newest unless a test asks for
// an older one), step by step in one transaction that holds off other copies of
// the program doing the same. Throws AppError with the database's reason; a
// database newer than this program is refused.
void UpgradeCatalogueSchema(QSqlDatabase &db, int version = CatalogueSchemaVersion);
// The version the database's tables have; 0 for a database without them.
int CatalogueSchemaVersionOf(QSqlDatabase &db);
