#pragma once

#include "IniEncoding.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// An ini file held in memory as its bytes and, beside them, their decoded text, so
// that writing a key changes the bytes of that one line and leaves every other byte
// as the file had it: comments, order, unknown keys, line ends, encoding, and bytes
// that are not valid in the file's encoding. Section and key names match
// regardless of case; where a name appears twice, the first one counts, as on
// Windows. A value in one pair of matching quotes reads without them.
class IniDocument {
public:
    // An empty document in the form of a new file.
    IniDocument();
    static IniDocument fromBytes(QByteArray bytes);
    // The file's bytes; valid until the document is next changed or written.
    const QByteArray &toBytes() const;
    // The same bytes in the pieces the document holds them in, for writing without
    // a copy of the whole file; valid until the document is next changed.
    std::vector<QByteArrayView> byteChunks() const;

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
    // become blanks, so a value can never add lines of its own; a value that would
    // not read back as it is (blanks at its ends, or quotes around it) is quoted.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    // Removes the section's header and all its lines.
    void eraseSection(const QString &section);

    // Whether any write or erase has been made since the document was read.
    bool isModified() const { return modified_; }
    void markSaved() { modified_ = false; }

private:
    // A section is held as its bytes, from its header line (if it has one) to the
    // next header. Until the section is first changed its bytes are those of the file
    // as read, shared with it. Its text is decoded when needed, line n of the text
    // being line n of the bytes: each text line ends in '\n' (the last one of the file
    // may not) and keeps any '\r' before it. Only the text of the section last used
    // is kept; the sections are read one at a time, and a line is found by walking
    // the text, which is short.
    struct Section {
        QByteArray bytes;
        int keyCount = 0;
        bool hasHeader = false;
        bool erased = false;
        bool shadowed = false; // an earlier section has the same name and counts instead
    };
    // An entry of the index: the first live section of a name, under a hash of the
    // lower-cased name. The index is in the order of the hashes; a section's name is
    // read from its header line when looked up or, for a section this document
    // added, from writtenNames_.
    struct IndexEntry {
        quint32 hash = 0;
        int section = 0;
    };
    // Where a key's line stands in its section's text (without its '\n').
    struct KeyLine {
        qsizetype from = -1;
        qsizetype length = 0;
        int index = 0; // the line's number in the section
        QStringView line;
        QStringView key;
    };

    // The value's text where it stands in the section; valid until the next change.
    std::optional<QStringView> valueView(const QString &section, const QString &key) const;
    static int countKeys(QStringView text, qsizetype bodyStart);
    static QString nameIn(QStringView text, bool hasHeader);      // empty for the lines above the first header
    static qsizetype bodyStart(QStringView text, bool hasHeader); // where the lines after the header begin
    QString nameOf(const Section &section) const;
    // The section's decoded text; valid until a section's bytes next change.
    const QString &textOf(const Section &section) const;
    void changed(const Section &section);
    const Section *findSection(const QString &name) const;
    Section *findSection(const QString &name);
    static KeyLine findKey(QStringView text, bool hasHeader, const QString &key);
    Section &sectionForWriting(const QString &name);
    static quint32 nameHash(const QString &lowerName);
    QString lowerNameOf(int section) const;
    // Where the name's entry is in the index; the end when it has none.
    std::vector<IndexEntry>::const_iterator lookUp(const QString &lowerName) const;
    void indexSection(int index, const QString &lowerName);
    // Text and bytes of a line the document writes.
    QByteArray encoded(const QString &text) const;
    // Replaces the content of the key's line (its line end stays), or inserts a line
    // before line `index`.
    void replaceLine(Section &section, const KeyLine &found, const QString &content);
    void insertLine(Section &section, int index, const QString &line);
    // Ends the section's last line, if the file left it open, so that lines can follow;
    // in a UTF-16 file cut off after an odd byte, completes that unit first.
    void endLastLine(Section &section);
    // Where line `index` of the section's bytes begins and where its content ends.
    std::pair<qsizetype, qsizetype> byteLine(const Section &section, int index) const;

    QByteArray source_; // the file as read, which unchanged sections share
    std::vector<Section> sections_;
    std::vector<IndexEntry> index_;
    QHash<int, QString> writtenNames_; // lower-cased, as given
    mutable QString lastName_;         // the name last looked up, as given, and its section (-1: none)
    mutable int lastIndex_ = -1;
    mutable bool lastValid_ = false;
    mutable int textIndex_ = -1; // the section whose text is held (-1: none)
    mutable QString text_;
    QByteArray mark_; // the byte-order mark, as the file had it
    IniEncoding encoding_ = NewFileEncoding;
    QString newline_ = QStringLiteral("\r\n");
    bool modified_ = false;
    bool hasDuplicates_ = false; // some section name stands twice in the file
    mutable QByteArray written_;
    mutable bool writtenValid_ = false;
};
