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

TImportXml::TImportXml(const QByteArray &bytes, const QString &fileName) : xml_(bytes), fileName_(fileName) {}

void TImportXml::step()
{
    xml_.readNext();
    if (xml_.hasError()) {
        const QString where = QStringLiteral("XML 在第 %1 行第 %2 列有误（%3），")
                                  .arg(xml_.lineNumber())
                                  .arg(xml_.columnNumber())
                                  .arg(xml_.errorString());
        ThrowUnreadable(fileName_, where + QStringLiteral("文件可能已损坏或不完整"));
    }
    if (xml_.isStartElement() && ++depth_ > MaxXmlDepth)
        ThrowUnreadable(fileName_, QStringLiteral("XML 元素嵌套超过 %1 层，不予导入（文件可能已损坏或是恶意构造的）").arg(MaxXmlDepth));
    if (xml_.isEndElement())
        --depth_;
}

bool TImportXml::Next()
{
    while (!xml_.atEnd()) {
        step();
        if (xml_.isStartElement() || xml_.isEndElement())
            return true;
    }
    return false;
}

TXmlElement TImportXml::ReadElement()
{
    std::vector<TXmlElement> open;
    open.push_back({xml_.name().toString(), xml_.attributes(), {}, {}});
    while (!open.empty()) {
        step();
        if (xml_.atEnd())
            break;
        if (xml_.isStartElement()) {
            open.push_back({xml_.name().toString(), xml_.attributes(), {}, {}});
        } else if (xml_.isCharacters()) {
            open.back().Text += xml_.text();
        } else if (xml_.isEndElement()) {
            TXmlElement done = std::move(open.back());
            open.pop_back();
            if (open.empty())
                return done;
            open.back().Children.push_back(std::move(done));
        }
    }
    // The document ended inside the element: the reader has reported it above.
    ThrowUnreadable(fileName_, QStringLiteral("文件不完整"));
}

void TImportXml::SkipElement()
{
    for (int depth = 1; depth > 0 && !xml_.atEnd();) {
        step();
        if (xml_.isStartElement())
            ++depth;
        else if (xml_.isEndElement())
            --depth;
    }
}
