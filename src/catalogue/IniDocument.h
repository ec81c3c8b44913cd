#pragma once

#include "IniEncoding.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// An ini file held in memory as its lines, so that writing a key changes that one
// line and leaves everything else (comments, order, unknown keys, line ends and
// encoding) as the file had it. Section and key names match regardless of case;
// where a name appears twice, the first one counts.
class IniDocument {
public:
    IniDocument() = default;
    static IniDocument fromBytes(const QByteArray &bytes);
    // The file's bytes; valid until the document is next changed or written.
    const QByteArray &toBytes() const;

    IniEncoding encoding() const { return encoding_; }

    // A section is present only when it has at least one key.
    bool hasSection(const QString &section) const;
    // Names of the present sections, in file order.
    QStringList sectionNames() const;

    std::optional<QString> value(const QString &section, const QString &key) const;
    QString readString(const QString &section, const QString &key, const QString &fallback) const;
    int readInteger(const QString &section, const QString &key, int fallback) const;
    bool readBool(const QString &section, const QString &key, bool fallback) const;

    // Replaces the key's value where it stands; a new key goes to the end of its
    // section, a new section to the end of the file. Line breaks in the value
    // become blanks, so a value can never add lines of its own.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    // Removes the section's header and all its lines.
    void eraseSection(const QString &section);

    // Whether any write or erase has been made since the document was read.
    bool isModified() const { return modified_; }
    void markSaved() { modified_ = false; }

private:
    // A section is held as one text: its header line, if it has one, then its
    // lines, each ending in '\n' whatever the file's line ends are. A line is
    // found by walking the text, which is short; no per-line records are kept.
    struct Section {
        QString text;
        bool hasHeader = false;
        bool erased = false;
        int keyCount = 0;
        // The section as it is written, kept until the section changes.
        mutable QByteArray encoded;
        mutable bool encodedValid = false;

        QString name() const; // empty for the lines above the first header
        qsizetype bodyStart() const; // where the lines after the header begin
    };
    // Where a key's line stands in its section's text (without its '\n').
    struct KeyLine {
        qsizetype from = -1;
        qsizetype length = 0;
        QStringView line;
        QStringView key;
    };

    static Section makeSection(QStringView text, bool hasHeader);
    void encodeSection(const Section &section) const;
    const Section *findSection(const QString &name) const;
    Section *findSection(const QString &name);
    static KeyLine findKey(const Section &section, const QString &key);
    Section &sectionForWriting(const QString &name);
    void indexSection(int index, const QString &name);

    std::vector<Section> sections_;
    QHash<QString, int> index_; // lower-cased name -> first live section of that name
    IniEncoding encoding_ = IniEncoding::Utf8;
    QString newline_ = QStringLiteral("\n");
    bool modified_ = false;
    bool hasDuplicates_ = false; // some section name stands twice in the file
    mutable QByteArray written_;
};
