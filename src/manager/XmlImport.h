#pragma once

#include <QDomDocument>
#include <QDomElement>
#include <QString>

// Shared by the readers of XML server lists.

// Parses the whole file; throws an AppError with the place of the fault when the
// XML is damaged or cut off, so that nothing of such a file is imported.
QDomDocument ParseImportXml(const QByteArray &bytes, const QString &fileName);
// The trimmed text of the first child element of that name; empty if none.
QString ChildText(const QDomElement &parent, const QString &name);
// Joins group names into one path; an empty part is left out.
QString JoinGroupPath(const QString &parent, const QString &name);
