#include "IniDocument.h"

#include "IniValue.h"

#include <algorithm>

namespace {

QString sanitizedValue(QString value)
{
    for (QChar &c : value)
        if (c == u'\r' || c == u'\n' || c == QChar(0))
            c = u' ';
    return value;
}

QString detectNewline(const QString &text)
{
    const qsizetype lf = text.indexOf(u'\n');
    if (lf > 0 && text[lf - 1] == u'\r')
        return QStringLiteral("\r\n");
    return QStringLiteral("\n");
}

// The trimmed key name of a line; empty for blank lines, comments and lines
// without a name before their '='.
QStringView keyOf(QStringView line)
{
    const QStringView trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u';'))
        return {};
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QStringView() : line.left(eq).trimmed();
}

// Walks the '\n'-ended lines of a section's text from a given offset.
class LineWalk {
public:
    LineWalk(const QString &text, qsizetype from) : text_(text), next_(from) {}
    bool next()
    {
        if (next_ >= text_.size())
            return false;
        from_ = next_;
        const qsizetype end = text_.indexOf(u'\n', from_);
        length_ = (end < 0 ? text_.size() : end) - from_;
        next_ = from_ + length_ + 1;
        return true;
    }
    QStringView line() const { return QStringView(text_).mid(from_, length_); }
    qsizetype from() const { return from_; }
    qsizetype length() const { return length_; }

private:
    const QString &text_;
    qsizetype next_;
    qsizetype from_ = 0;
    qsizetype length_ = 0;
};

} // namespace

QString IniDocument::Section::name() const
{
    if (!hasHeader)
        return {};
    const qsizetype end = text.indexOf(u'\n');
    const QStringView header = QStringView(text).left(end < 0 ? text.size() : end).trimmed();
    const qsizetype close = header.indexOf(u']');
    return (close < 0 ? header.mid(1) : header.mid(1, close - 1)).trimmed().toString();
}

qsizetype IniDocument::Section::bodyStart() const
{
    if (!hasHeader)
        return 0;
    const qsizetype end = text.indexOf(u'\n');
    return end < 0 ? text.size() : end + 1;
}

// A section from its lines as they stand in the decoded file: the line ends
// become '\n' (one '\r' before each '\n' is the line end's), and the last line
// gets one if the file ended without.
IniDocument::Section IniDocument::makeSection(QStringView text, bool hasHeader)
{
    Section section;
    section.hasHeader = hasHeader;
    section.text = text.toString();
    if (section.text.contains(u'\r'))
        section.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!section.text.isEmpty() && !section.text.endsWith(u'\n')) {
        if (section.text.endsWith(u'\r'))
            section.text.chop(1);
        section.text += u'\n';
    }
    LineWalk walk(section.text, section.bodyStart());
    while (walk.next())
        if (!keyOf(walk.line()).isEmpty())
            ++section.keyCount;
    return section;
}

IniDocument IniDocument::fromBytes(const QByteArray &bytes)
{
    IniDocument doc;
    const DecodedText decoded = DecodeIniText(bytes);
    doc.encoding_ = decoded.encoding;
    doc.newline_ = detectNewline(decoded.text);

    // Each header line starts a section that runs to the next header line.
    const QStringView text(decoded.text);
    qsizetype sectionFrom = 0;
    bool sectionHasHeader = false;
    qsizetype lineFrom = 0;
    while (lineFrom < text.size()) {
        const qsizetype end = text.indexOf(u'\n', lineFrom);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (text.mid(lineFrom, next - lineFrom).trimmed().startsWith(u'[')) {
            // The first section holds the lines above the first header, if any.
            doc.sections_.push_back(makeSection(text.mid(sectionFrom, lineFrom - sectionFrom), sectionHasHeader));
            sectionFrom = lineFrom;
            sectionHasHeader = true;
        }
        lineFrom = next;
    }
    doc.sections_.push_back(makeSection(text.mid(sectionFrom), sectionHasHeader));
    for (int i = 0; i < int(doc.sections_.size()); ++i)
        doc.indexSection(i, doc.sections_[i].name());
    return doc;
}

void IniDocument::indexSection(int index, const QString &name)
{
    const Section &section = sections_[index];
    if (!section.hasHeader || section.erased)
        return;
    const QString key = name.toLower();
    if (index_.contains(key))
        hasDuplicates_ = true;
    else
        index_.insert(key, index);
}

void IniDocument::encodeSection(const Section &section) const
{
    if (newline_ == u"\n") {
        section.encoded = EncodeIniBody(section.text, encoding_);
    } else {
        QString text = section.text;
        section.encoded = EncodeIniBody(text.replace(u'\n', newline_), encoding_);
    }
    section.encodedValid = true;
}

const QByteArray &IniDocument::toBytes() const
{
    const QByteArray mark = IniByteOrderMark(encoding_);
    qsizetype total = mark.size();
    for (const Section &section : sections_) {
        if (section.erased)
            continue;
        if (!section.encodedValid)
            encodeSection(section);
        total += section.encoded.size();
    }
    // The buffer keeps its memory from one write to the next.
    written_.resize(0);
    written_.reserve(total);
    written_ += mark;
    for (const Section &section : sections_)
        if (!section.erased)
            written_ += section.encoded;
    return written_;
}

const IniDocument::Section *IniDocument::findSection(const QString &name) const
{
    const auto it = index_.constFind(name.toLower());
    return it == index_.constEnd() ? nullptr : &sections_[*it];
}

IniDocument::Section *IniDocument::findSection(const QString &name)
{
    return const_cast<Section *>(std::as_const(*this).findSection(name));
}

IniDocument::KeyLine IniDocument::findKey(const Section &section, const QString &key)
{
    LineWalk walk(section.text, section.bodyStart());
    while (walk.next()) {
        const QStringView name = keyOf(walk.line());
        if (!name.isEmpty() && name.compare(key, Qt::CaseInsensitive) == 0)
            return KeyLine{walk.from(), walk.length(), walk.line(), name};
    }
    return {};
}

bool IniDocument::hasSection(const QString &name) const
{
    const Section *section = findSection(name);
    return section && section->keyCount > 0;
}

QStringList IniDocument::sectionNames() const
{
    QStringList names;
    for (const Section &section : sections_)
        if (section.hasHeader && !section.erased && section.keyCount > 0)
            names.append(section.name());
    return names;
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    if (!s)
        return std::nullopt;
    const KeyLine found = findKey(*s, key);
    if (found.from < 0)
        return std::nullopt;
    return found.line.mid(found.line.indexOf(u'=') + 1).trimmed().toString();
}

QString IniDocument::readString(const QString &section, const QString &key, const QString &fallback) const
{
    return value(section, key).value_or(fallback);
}

int IniDocument::readInteger(const QString &section, const QString &key, int fallback) const
{
    const auto text = value(section, key);
    if (!text)
        return fallback;
    return ParseIniInteger(*text).value_or(fallback);
}

bool IniDocument::readBool(const QString &section, const QString &key, bool fallback) const
{
    return readInteger(section, key, fallback ? 1 : 0) != 0;
}

IniDocument::Section &IniDocument::sectionForWriting(const QString &name)
{
    if (Section *existing = findSection(name))
        return *existing;
    // A new section goes to the end of the file, set off by a blank line.
    auto last = std::find_if(sections_.rbegin(), sections_.rend(), [](const Section &s) { return !s.erased; });
    if (last != sections_.rend() && !last->text.isEmpty()) {
        const qsizetype body = last->bodyStart();
        const qsizetype lastLine = last->text.lastIndexOf(u'\n', -2) + 1;
        const bool noLines = body >= last->text.size();
        if (noLines || !QStringView(last->text).mid(std::max(lastLine, body)).trimmed().isEmpty()) {
            last->text += u'\n';
            last->encodedValid = false;
        }
    }
    Section section;
    section.text = QLatin1Char('[') + name + QStringLiteral("]\n");
    section.hasHeader = true;
    sections_.push_back(std::move(section));
    indexSection(int(sections_.size()) - 1, name);
    return sections_.back();
}

void IniDocument::writeString(const QString &section, const QString &key, const QString &value)
{
    Section &s = sectionForWriting(section);
    const QString clean = sanitizedValue(value);
    modified_ = true;
    s.encodedValid = false;
    const KeyLine found = findKey(s, key);
    if (found.from >= 0) {
        // The key keeps its spelling from the file.
        const QString line = found.key.toString() + QLatin1Char('=') + clean;
        s.text.replace(found.from, found.length, line);
        return;
    }
    // A new key follows the section's last non-blank line.
    qsizetype at = s.bodyStart();
    LineWalk walk(s.text, at);
    while (walk.next())
        if (!walk.line().trimmed().isEmpty())
            at = walk.from() + walk.length() + 1;
    s.text.insert(at, key + QLatin1Char('=') + clean + QLatin1Char('\n'));
    ++s.keyCount;
}

void IniDocument::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniDocument::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniDocument::eraseSection(const QString &name)
{
    const QString lower = name.toLower();
    const auto it = index_.find(lower);
    if (it == index_.end())
        return;
    sections_[*it].erased = true;
    index_.erase(it);
    modified_ = true;
    // A later section of the same name, if any, now counts.
    if (!hasDuplicates_)
        return;
    for (int i = 0; i < int(sections_.size()); ++i) {
        const Section &s = sections_[i];
        if (s.hasHeader && !s.erased && s.name().compare(name, Qt::CaseInsensitive) == 0) {
            index_.insert(lower, i);
            break;
        }
    }
}
