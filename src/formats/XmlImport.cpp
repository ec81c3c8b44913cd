#include "XmlImport.h"

#include "ImportRecord.h"

QString AttributeValue(const QXmlStreamAttributes &attributes, QStringView name)
{
    for (const QXmlStreamAttribute &attribute : attributes)
        if (attribute.qualifiedName() == name)
            return attribute.value().toString();
    return {};
}

bool HasAttribute(const QXmlStreamAttributes &attributes, QStringView name)
{
    for (const QXmlStreamAttribute &attribute : attributes)
        if (attribute.qualifiedName() == name)
            return true;
    return false;
}

const TXmlElement *TXmlElement::Child(QStringView name) const
{
    for (const TXmlElement &child : Children)
        if (child.Name == name)
            return &child;
    return nullptr;
}

QString TXmlElement::ChildText(QStringView name) const
{
    const TXmlElement *child = Child(name);
    return child ? child->Text.trimmed() : QString();
}

TImportXml::TImportXml(const QByteArray &bytes, const QString &fileName) : fXml(bytes), fFileName(fileName) {}

void TImportXml::step()
{
    fXml.readNext();
    if (fXml.hasError()) {
        const QString where = QStringLiteral("XML 在第 %1 行第 %2 列有误（%3），")
                                  .arg(fXml.lineNumber())
                                  .arg(fXml.columnNumber())
                                  .arg(fXml.errorString());
        ThrowUnreadable(fFileName, where + QStringLiteral("文件可能已损坏或不完整"));
    }
    if (fXml.isStartElement() && ++fDepth > MaxXmlDepth)
        ThrowUnreadable(fFileName, QStringLiteral("XML 元素嵌套超过 %1 层，不予导入（文件可能已损坏或是恶意构造的）").arg(MaxXmlDepth));
    if (fXml.isEndElement())
        --fDepth;
}

bool TImportXml::Next()
{
    while (!fXml.atEnd()) {
        step();
        if (fXml.isStartElement() || fXml.isEndElement())
            return true;
    }
    return false;
}

TXmlElement TImportXml::ReadElement()
{
    std::vector<TXmlElement> open;
    open.push_back({fXml.name().toString(), fXml.attributes(), {}, {}});
    while (!open.empty()) {
        step();
        if (fXml.atEnd())
            break;
        if (fXml.isStartElement()) {
            open.push_back({fXml.name().toString(), fXml.attributes(), {}, {}});
        } else if (fXml.isCharacters()) {
            open.back().Text += fXml.text();
        } else if (fXml.isEndElement()) {
            TXmlElement done = std::move(open.back());
            open.pop_back();
            if (open.empty())
                return done;
            open.back().Children.push_back(std::move(done));
        }
    }
    // The document ended inside the element: the reader has reported it above.
    ThrowUnreadable(fFileName, QStringLiteral("文件不完整"));
}

void TImportXml::SkipElement()
{
    for (int depth = 1; depth > 0 && !fXml.atEnd();) {
        step();
        if (fXml.isStartElement())
            ++depth;
        else if (fXml.isEndElement())
            --depth;
    }
}
