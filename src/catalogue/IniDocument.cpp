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

} // namespace

IniDocument::Line IniDocument::parseLine(const QString &text)
{
    Line line{text, {}, -1};
    const QStringView trimmed = QStringView(text).trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u';'))
        return line;
    const qsizetype eq = text.indexOf(u'=');
    const QStringView key = QStringView(text).left(std::max<qsizetype>(eq, 0)).trimmed();
    if (eq < 0 || key.isEmpty())
        return line;
    line.key = internedKey(key);
    line.valueFrom = int(eq + 1);
    return line;
}

// The same few key names stand in every section: they share one copy.
QString IniDocument::internedKey(QStringView key)
{
    const QString name = key.toString();
    const auto it = keyNames_.constFind(name);
    if (it != keyNames_.constEnd())
        return *it;
    keyNames_.insert(name);
    return name;
}

QString IniDocument::Line::value() const
{
    return valueFrom < 0 ? QString() : QStringView(text).mid(valueFrom).trimmed().toString();
}

IniDocument IniDocument::fromBytes(const QByteArray &bytes)
{
    IniDocument doc;
    const DecodedText decoded = DecodeIniText(bytes);
    doc.encoding_ = decoded.encoding;
    doc.newline_ = detectNewline(decoded.text);

    QStringView rest(decoded.text);
    doc.sections_.push_back(Section{});
    while (!rest.isEmpty()) {
        qsizetype end = rest.indexOf(u'\n');
        QStringView raw = end < 0 ? rest : rest.left(end);
        rest = end < 0 ? QStringView() : rest.mid(end + 1);
        if (raw.endsWith(u'\r'))
            raw.chop(1);
        const QString text = raw.toString();
        const QStringView trimmed = raw.trimmed();
        if (trimmed.startsWith(u'[')) {
            Section section;
            const qsizetype close = trimmed.indexOf(u']');
            section.name = (close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1)).trimmed().toString();
            section.header = text;
            section.hasHeader = true;
            doc.sections_.push_back(std::move(section));
            continue;
        }
        Line line = doc.parseLine(text);
        Section &current = doc.sections_.back();
        if (!line.key.isEmpty())
            ++current.keyCount;
        current.lines.push_back(std::move(line));
    }
    for (int i = 0; i < int(doc.sections_.size()); ++i)
        doc.indexSection(i);
    return doc;
}

void IniDocument::indexSection(int index)
{
    const Section &section = sections_[index];
    if (!section.hasHeader || section.erased)
        return;
    const QString key = section.name.toLower();
    if (index_.contains(key))
        hasDuplicates_ = true;
    else
        index_.insert(key, index);
}

void IniDocument::encodeSection(const Section &section) const
{
    QString text;
    if (section.hasHeader)
        text += section.header + newline_;
    for (const Line &line : section.lines) {
        text += line.text;
        text += newline_;
    }
    section.encoded = EncodeIniBody(text, encoding_);
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

const IniDocument::Line *IniDocument::findKey(const Section &section, const QString &key) const
{
    for (const Line &line : section.lines)
        if (!line.key.isEmpty() && line.key.compare(key, Qt::CaseInsensitive) == 0)
            return &line;
    return nullptr;
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
            names.append(section.name);
    return names;
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    if (!s)
        return std::nullopt;
    const Line *line = findKey(*s, key);
    if (!line)
        return std::nullopt;
    return line->value();
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
    const bool lastHasText = last != sections_.rend() && (last->hasHeader || !last->lines.empty());
    if (lastHasText && (last->lines.empty() || !last->lines.back().text.trimmed().isEmpty())) {
        last->lines.push_back(Line{});
        last->encodedValid = false;
    }
    Section section;
    section.name = name;
    section.header = QLatin1Char('[') + name + QLatin1Char(']');
    section.hasHeader = true;
    sections_.push_back(std::move(section));
    indexSection(int(sections_.size()) - 1);
    return sections_.back();
}

void IniDocument::writeString(const QString &section, const QString &key, const QString &value)
{
    Section &s = sectionForWriting(section);
    const QString clean = sanitizedValue(value);
    modified_ = true;
    s.encodedValid = false;
    if (const Line *found = findKey(s, key)) {
        Line &line = const_cast<Line &>(*found);
        line.text = line.key + QLatin1Char('=') + clean;
        line.valueFrom = int(line.key.size()) + 1;
        return;
    }
    // A new key follows the section's last non-blank line.
    auto at = s.lines.end();
    while (at != s.lines.begin() && std::prev(at)->text.trimmed().isEmpty())
        --at;
    const QString name = internedKey(key);
    s.lines.insert(at, Line{name + QLatin1Char('=') + clean, name, int(name.size()) + 1});
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
        if (s.hasHeader && !s.erased && s.name.compare(name, Qt::CaseInsensitive) == 0) {
            index_.insert(lower, i);
            break;
        }
    }
}
