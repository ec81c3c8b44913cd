#include "XmlImport.h"

#include "ImportRecord.h"

QDomDocument ParseImportXml(const QByteArray &bytes, const QString &fileName)
{
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (doc.setContent(bytes, &message, &line, &column))
        return doc;
    const QString where = QStringLiteral("XML 在第 %1 行第 %2 列有误（%3），").arg(line).arg(column).arg(message);
    ThrowUnreadable(fileName, where + QStringLiteral("文件可能已损坏或不完整"));
}

QString ChildText(const QDomElement &parent, const QString &name)
{
    return parent.firstChildElement(name).text().trimmed();
}

QString JoinGroupPath(const QString &parent, const QString &name)
{
    if (parent.isEmpty())
        return name;
    if (name.isEmpty())
        return parent;
    return parent + u'/' + name;
}
