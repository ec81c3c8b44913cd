#pragma once

#include <QByteArray>
#include <QString>
#include <QXmlStreamAttributes>
#include <QXmlStreamReader>
#include <vector>

// Shared by the readers of XML server lists. The file is read as a stream, never
// kept whole as a tree: the readers hold only the groups that enclose the place
// they are at, and read the small elements of one server or one group's settings
// whole. Nesting is bounded, and nothing recurses.

// The deepest nesting of elements read; deeper files are refused.
inline constexpr int MaxXmlDepth = 200;
// The deepest nesting of groups read; deeper files are refused.
inline constexpr int MaxGroupDepth = 100;

// The value of the attribute with that name (as written, prefix included); empty if none.
QString AttributeValue(const QXmlStreamAttributes &attributes, QStringView name);
bool HasAttribute(const QXmlStreamAttributes &attributes, QStringView name);

// One small element read whole, with its attributes, its text and its children.
struct TXmlElement {
    QString Name;
    QXmlStreamAttributes Attributes;
    QString Text;
    std::vector<TXmlElement> Children;

    // The first child of that name, or none.
    const TXmlElement *Child(QStringView name) const;
    // The trimmed text of the first child of that name; empty if none.
    QString ChildText(QStringView name) const;
    QString Attribute(QStringView name) const { return AttributeValue(Attributes, name); }
};

class TImportXml {
public:
    TImportXml(const QByteArray &bytes, const QString &fileName);

    // Moves to the next start or end of an element; false at the end of the
    // document. Throws an AppError with the place of the fault when the XML is
    // damaged or cut off, or nested deeper than MaxXmlDepth.
    bool Next();
    bool IsStart() const { return xml_.isStartElement(); }
    bool IsEnd() const { return xml_.isEndElement(); }
    QStringView Name() const { return xml_.name(); }
    QXmlStreamAttributes Attributes() const { return xml_.attributes(); }
    // Reads the element that has just started, with everything in it, and stands at its end.
    TXmlElement ReadElement();
    // Passes over the element that has just started, and stands at its end.
    void SkipElement();
    const QString &FileName() const { return fileName_; }

private:
    void step();

    QXmlStreamReader xml_;
    QString fileName_;
    int depth_ = 0;
};
