#include "IniDocument.h"

#include "IniValue.h"

#include <algorithm>

namespace {

// Where a character first stands in a text from an offset, -1 if nowhere; the
// toolkit's character scan without the general search around it.
qsizetype find(QStringView text, char16_t c, qsizetype from = 0)
{
    const QStringView rest = text.sliced(from);
    const char16_t *at = QtPrivate::qustrchr(rest, c);
    return at == rest.utf16() + rest.size() ? -1 : qsizetype(at - text.utf16());
}

char32_t folded(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
    return QChar::toCaseFolded(char32_t(u));
}

// Whether the text begins with the name, letters compared regardless of case.
bool startsWithName(QStringView text, QStringView name)
{
    if (text.size() < name.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i)
        if (folded(text[i]) != folded(name[i]))
            return false;
    return true;
}

QString sanitizedValue(QString value)
{
    for (QChar &c : value)
        if (c == u'\r' || c == u'\n' || c == QChar(0))
            c = u' ';
    return value;
}

bool isQuoted(QStringView value)
{
    return value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front();
}

// What a value's text reads as: trimmed, and one pair of matching double or single
// quotes around it dropped, as the Windows profile functions read it.
QStringView readValue(QStringView text)
{
    const QStringView trimmed = text.trimmed();
    return isQuoted(trimmed) ? trimmed.mid(1, trimmed.size() - 2) : trimmed;
}

// The text to store for a value so that it reads back as it is.
QString storedValue(const QString &value)
{
    const QString clean = sanitizedValue(value);
    if (readValue(clean) == QStringView(clean))
        return clean;
    return QLatin1Char('"') + clean + QLatin1Char('"');
}

QString detectNewline(QStringView text)
{
    const qsizetype lf = text.indexOf(u'\n');
    if (lf < 0 || (lf > 0 && text[lf - 1] == u'\r'))
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
    const qsizetype eq = find(line, u'=');
    return eq < 0 ? QStringView() : line.left(eq).trimmed();
}

// Walks the '\n'-ended lines of a text from a given offset.
class LineWalk {
public:
    LineWalk(QStringView text, qsizetype from) : text_(text), next_(from) {}
    bool next()
    {
        if (next_ >= text_.size())
            return false;
        from_ = next_;
        const qsizetype end = find(text_, u'\n', from_);
        length_ = (end < 0 ? text_.size() : end) - from_;
        next_ = from_ + length_ + 1;
        ++index_;
        return true;
    }
    QStringView line() const { return text_.mid(from_, length_); }
    qsizetype from() const { return from_; }
    qsizetype length() const { return length_; }
    qsizetype next_from() const { return next_; }
    int index() const { return index_; }

private:
    QStringView text_;
    qsizetype next_;
    qsizetype from_ = 0;
    qsizetype length_ = 0;
    int index_ = -1;
};

} // namespace

IniDocument::IniDocument() : mark_(IniByteOrderMark(NewFileEncoding)) {}

qsizetype IniDocument::bodyStart(QStringView text, bool hasHeader)
{
    if (!hasHeader)
        return 0;
    const qsizetype end = find(text, u'\n');
    return end < 0 ? text.size() : end + 1;
}

QString IniDocument::nameIn(QStringView text, bool hasHeader)
{
    if (!hasHeader)
        return {};
    const qsizetype end = find(text, u'\n');
    const QStringView header = text.left(end < 0 ? text.size() : end).trimmed();
    const qsizetype close = header.indexOf(u']');
    return (close < 0 ? header.mid(1) : header.mid(1, close - 1)).trimmed().toString();
}

int IniDocument::countKeys(QStringView text, qsizetype bodyStart)
{
    int keys = 0;
    LineWalk walk(text, bodyStart);
    while (walk.next())
        if (!keyOf(walk.line()).isEmpty())
            ++keys;
    return keys;
}

QString IniDocument::nameOf(const Section &section) const
{
    if (!section.hasHeader)
        return {};
    if (textIndex_ >= 0 && &sections_[textIndex_] == &section)
        return nameIn(text_, true);
    // The header line alone, with its line end, reads as it does within the file.
    const int unit = IniUnitSize(encoding_);
    const qsizetype end = std::min(IniLineEnd(section.bytes, 0, unit) + unit, section.bytes.size());
    return nameIn(DecodeIniBody(QByteArrayView(section.bytes).first(end), encoding_), true);
}

const QString &IniDocument::textOf(const Section &section) const
{
    const int index = int(&section - sections_.data());
    if (index != textIndex_) {
        // Whole lines decode as they do within the file.
        text_ = DecodeIniBody(section.bytes, encoding_);
        textIndex_ = index;
    }
    return text_;
}

void IniDocument::changed(const Section &section)
{
    if (textIndex_ == int(&section - sections_.data()))
        textIndex_ = -1;
}

IniDocument IniDocument::fromBytes(QByteArray bytes)
{
    if (bytes.isEmpty())
        return IniDocument();
    IniDocument doc;
    // Held as the document's own: the sections point into it.
    doc.source_ = std::move(bytes);
    doc.source_.detach();
    const DecodedText decoded = DecodeIniText(doc.source_);
    doc.encoding_ = decoded.encoding;
    doc.mark_ = IniByteOrderMark(decoded.encoding);
    doc.newline_ = detectNewline(decoded.text);
    const qsizetype bodyFrom = doc.mark_.size();
    const QByteArrayView body = QByteArrayView(doc.source_).sliced(bodyFrom);
    const int unit = IniUnitSize(doc.encoding_);

    // Each header line starts a section that runs to the next header line. Text
    // and bytes are walked line by line together.
    const QStringView text(decoded.text);
    QStringList names;
    const auto add = [&](qsizetype textFrom, qsizetype textEnd, qsizetype bytesFrom, qsizetype bytesEnd, bool hasHeader) {
        const QStringView sectionText = text.sliced(textFrom, textEnd - textFrom);
        Section section;
        section.hasHeader = hasHeader;
        section.bytes = QByteArray::fromRawData(doc.source_.constData() + bodyFrom + bytesFrom, bytesEnd - bytesFrom);
        section.keyCount = countKeys(sectionText, bodyStart(sectionText, hasHeader));
        doc.sections_.push_back(std::move(section));
        names << nameIn(sectionText, hasHeader);
    };
    qsizetype textFrom = 0, bytesFrom = 0;
    bool sectionHasHeader = false;
    LineWalk lines(text, 0);
    qsizetype byteLine = 0;
    while (lines.next()) {
        if (lines.line().trimmed().startsWith(u'[')) {
            // The first section holds the lines above the first header, if any.
            add(textFrom, lines.from(), bytesFrom, byteLine, sectionHasHeader);
            textFrom = lines.from();
            bytesFrom = byteLine;
            sectionHasHeader = true;
        }
        byteLine = std::min(IniLineEnd(body, byteLine, unit) + unit, body.size());
    }
    add(textFrom, text.size(), bytesFrom, body.size(), sectionHasHeader);
    doc.sections_.shrink_to_fit();

    // Indexed all at once: sorted by hash, and within a hash by file order, so that
    // of two sections of one name the first is kept and the later one shadowed.
    std::vector<IndexEntry> entries;
    QStringList lowerNames;
    for (int i = 0; i < int(doc.sections_.size()); ++i) {
        lowerNames << names[i].toLower();
        if (doc.sections_[i].hasHeader)
            entries.push_back({nameHash(lowerNames[i]), i});
    }
    std::sort(entries.begin(), entries.end(), [](const IndexEntry &a, const IndexEntry &b) {
        return a.hash != b.hash ? a.hash < b.hash : a.section < b.section;
    });
    for (auto run = entries.begin(); run != entries.end();) {
        const auto runEnd = std::find_if(run, entries.end(), [run](const IndexEntry &e) { return e.hash != run->hash; });
        for (auto later = run; later != runEnd; ++later) {
            const bool seen = std::any_of(run, later, [&](const IndexEntry &earlier) {
                return !doc.sections_[earlier.section].shadowed
                    && lowerNames[earlier.section] == lowerNames[later->section];
            });
            if (seen) {
                doc.sections_[later->section].shadowed = true;
                doc.hasDuplicates_ = true;
            } else {
                doc.index_.push_back(*later);
            }
        }
        run = runEnd;
    }
    doc.index_.shrink_to_fit();
    return doc;
}

quint32 IniDocument::nameHash(const QString &lowerName)
{
    return quint32(qHash(lowerName, 0));
}

QString IniDocument::lowerNameOf(int section) const
{
    const auto written = writtenNames_.constFind(section);
    return written != writtenNames_.constEnd() ? *written : nameOf(sections_[section]).toLower();
}

std::vector<IniDocument::IndexEntry>::const_iterator IniDocument::lookUp(const QString &lowerName) const
{
    const quint32 hash = nameHash(lowerName);
    auto it = std::lower_bound(index_.begin(), index_.end(), hash,
                               [](const IndexEntry &entry, quint32 h) { return entry.hash < h; });
    for (; it != index_.end() && it->hash == hash; ++it)
        if (lowerNameOf(it->section) == lowerName)
            return it;
    return index_.end();
}

void IniDocument::indexSection(int index, const QString &lowerName)
{
    Section &section = sections_[index];
    if (!section.hasHeader || section.erased)
        return;
    lastValid_ = false;
    if (lookUp(lowerName) != index_.end()) {
        hasDuplicates_ = true;
        section.shadowed = true;
        return;
    }
    // Kept in the order of the hashes, and within a hash in file order.
    const IndexEntry entry{nameHash(lowerName), index};
    const auto at = std::upper_bound(index_.begin(), index_.end(), entry, [](const IndexEntry &a, const IndexEntry &b) {
        return a.hash != b.hash ? a.hash < b.hash : a.section < b.section;
    });
    index_.insert(at, entry);
}

const QByteArray &IniDocument::toBytes() const
{
    if (writtenValid_)
        return written_;
    qsizetype total = mark_.size();
    for (const Section &section : sections_)
        if (!section.erased)
            total += section.bytes.size();
    // The buffer keeps its memory from one write to the next.
    written_.resize(0);
    written_.reserve(total);
    written_ += mark_;
    for (const Section &section : sections_)
        if (!section.erased)
            written_ += section.bytes;
    writtenValid_ = true;
    return written_;
}

std::vector<QByteArrayView> IniDocument::byteChunks() const
{
    std::vector<QByteArrayView> chunks;
    chunks.reserve(sections_.size() + 1);
    chunks.push_back(mark_);
    for (const Section &section : sections_)
        if (!section.erased)
            chunks.push_back(section.bytes);
    return chunks;
}

const IniDocument::Section *IniDocument::findSection(const QString &name) const
{
    // A server's keys are read one after another from the same section.
    if (!lastValid_ || name != lastName_) {
        const auto it = lookUp(name.toLower());
        lastValid_ = true;
        lastName_ = name;
        lastIndex_ = it == index_.end() ? -1 : it->section;
    }
    return lastIndex_ < 0 ? nullptr : &sections_[lastIndex_];
}

IniDocument::Section *IniDocument::findSection(const QString &name)
{
    return const_cast<Section *>(std::as_const(*this).findSection(name));
}

IniDocument::KeyLine IniDocument::findKey(QStringView text, bool hasHeader, const QString &key)
{
    if (key.isEmpty())
        return {};
    const int headerLines = hasHeader ? 1 : 0;
    LineWalk walk(text, bodyStart(text, hasHeader));
    while (walk.next()) {
        // The key's name in any case, between blanks, then '=': the same test as
        // keyOf, without looking for the '=' of every other line.
        const QStringView line = walk.line();
        qsizetype at = 0;
        while (at < line.size() && line[at].isSpace())
            ++at;
        if (!startsWithName(line.sliced(at), key))
            continue;
        const QStringView name = line.sliced(at, key.size());
        at += key.size();
        while (at < line.size() && line[at].isSpace())
            ++at;
        if (at < line.size() && line[at] == u'=')
            return KeyLine{walk.from(), walk.length(), walk.index() + headerLines, line, name};
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
        if (section.hasHeader && !section.erased && !section.shadowed && section.keyCount > 0)
            names.append(nameOf(section));
    return names;
}

std::optional<QStringView> IniDocument::valueView(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    if (!s)
        return std::nullopt;
    const KeyLine found = findKey(textOf(*s), s->hasHeader, key);
    if (found.from < 0)
        return std::nullopt;
    return readValue(found.line.mid(find(found.line, u'=') + 1));
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const
{
    const auto view = valueView(section, key);
    return view ? std::optional<QString>(view->toString()) : std::nullopt;
}

QString IniDocument::readString(const QString &section, const QString &key, const QString &fallback) const
{
    return value(section, key).value_or(fallback);
}

int IniDocument::readInteger(const QString &section, const QString &key, int fallback) const
{
    const auto text = valueView(section, key);
    if (!text)
        return fallback;
    return ParseIniInteger(*text).value_or(fallback);
}

bool IniDocument::readBool(const QString &section, const QString &key, bool fallback) const
{
    return readInteger(section, key, fallback ? 1 : 0) != 0;
}

QByteArray IniDocument::encoded(const QString &text) const
{
    return EncodeIniBody(text, encoding_);
}

std::pair<qsizetype, qsizetype> IniDocument::byteLine(const Section &section, int index) const
{
    const int unit = IniUnitSize(encoding_);
    qsizetype from = 0;
    for (int i = 0; i < index && from < section.bytes.size(); ++i)
        from = IniLineEnd(section.bytes, from, unit) + unit;
    from = std::min(from, section.bytes.size());
    return {from, IniLineEnd(section.bytes, from, unit)};
}

void IniDocument::replaceLine(Section &section, const KeyLine &found, const QString &content)
{
    // A carriage return before the line's end belongs to the line end and stays.
    const bool carriageReturn = found.line.endsWith(u'\r');
    const QString line = carriageReturn ? content + u'\r' : content;
    const auto [byteFrom, byteEnd] = byteLine(section, found.index);
    section.bytes.replace(byteFrom, byteEnd - byteFrom, encoded(line));
    changed(section);
}

void IniDocument::insertLine(Section &section, int index, const QString &line)
{
    const auto [byteFrom, byteEnd] = byteLine(section, index);
    Q_UNUSED(byteEnd);
    section.bytes.insert(byteFrom, encoded(line));
    changed(section);
}

void IniDocument::endLastLine(Section &section)
{
    const QString &text = textOf(section);
    if (section.bytes.isEmpty() || text.endsWith(u'\n'))
        return;
    const bool carriageReturn = text.endsWith(u'\r');
    // A UTF-16 file cut off after an odd byte: one more byte completes that unit,
    // so that what follows stands at whole units again. The unit made is a lone
    // high surrogate, which reads as U+FFFD as the odd byte did.
    if (IniUnitSize(encoding_) == 2 && section.bytes.size() % 2 != 0)
        section.bytes += char(0xD8);
    section.bytes += encoded(carriageReturn ? QStringLiteral("\n") : newline_);
    changed(section);
}

IniDocument::Section &IniDocument::sectionForWriting(const QString &name)
{
    if (Section *existing = findSection(name))
        return *existing;
    // A new section goes to the end of the file, set off by a blank line.
    auto last = std::find_if(sections_.rbegin(), sections_.rend(), [](const Section &s) { return !s.erased; });
    if (last != sections_.rend() && !last->bytes.isEmpty()) {
        endLastLine(*last);
        const QString &text = textOf(*last);
        const qsizetype body = bodyStart(text, last->hasHeader);
        const qsizetype lastLine = text.lastIndexOf(u'\n', -2) + 1;
        const bool noLines = body >= text.size();
        if (noLines || !QStringView(text).mid(std::max(lastLine, body)).trimmed().isEmpty()) {
            last->bytes += encoded(newline_);
            changed(*last);
        }
    }
    Section section;
    section.bytes = encoded(QLatin1Char('[') + name + QLatin1Char(']') + newline_);
    section.hasHeader = true;
    sections_.push_back(std::move(section));
    const int index = int(sections_.size()) - 1;
    writtenNames_.insert(index, name.toLower());
    indexSection(index, name.toLower());
    return sections_.back();
}

void IniDocument::writeString(const QString &section, const QString &key, const QString &value)
{
    Section &s = sectionForWriting(section);
    const QString stored = storedValue(value);
    modified_ = true;
    writtenValid_ = false;
    const QString &text = textOf(s);
    const KeyLine found = findKey(text, s.hasHeader, key);
    if (found.from >= 0) {
        // The key keeps its spelling from the file.
        replaceLine(s, found, found.key.toString() + QLatin1Char('=') + stored);
        return;
    }
    // A new key follows the section's last non-blank line.
    qsizetype at = bodyStart(text, s.hasHeader);
    int index = s.hasHeader ? 1 : 0;
    LineWalk walk(text, at);
    const int headerLines = index;
    while (walk.next()) {
        if (!walk.line().trimmed().isEmpty()) {
            at = walk.next_from();
            index = walk.index() + headerLines + 1;
        }
    }
    // The line before has no line end yet when the file ended without one.
    if (at >= text.size())
        endLastLine(s);
    insertLine(s, index, key + QLatin1Char('=') + stored + newline_);
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
    const auto it = lookUp(lower);
    if (it == index_.end())
        return;
    sections_[it->section].erased = true;
    index_.erase(it);
    lastValid_ = false;
    modified_ = true;
    writtenValid_ = false;
    // A later section of the same name, if any, now counts.
    if (!hasDuplicates_)
        return;
    for (int i = 0; i < int(sections_.size()); ++i) {
        Section &s = sections_[i];
        if (s.hasHeader && !s.erased && nameOf(s).compare(name, Qt::CaseInsensitive) == 0) {
            s.shadowed = false;
            // Found under the name it was erased by, whatever its own header says.
            if (lowerNameOf(i) != lower)
                writtenNames_.insert(i, lower);
            indexSection(i, lower);
            break;
        }
    }
}
