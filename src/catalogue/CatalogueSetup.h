#pragma once

#include <QString>
#include <memory>

class Catalogue;

// Catalogues on the stores there are: the server list file, or a database a team shares.
std::unique_ptr<Catalogue> MakeIniCatalogue(const QString &fileName);
std::unique_ptr<Catalogue> MakeDatabaseCatalogue(const QString &address);
// The server list file the program uses when nothing chose another.
QString DefaultServerListPath();
