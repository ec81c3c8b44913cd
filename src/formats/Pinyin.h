#pragma once

#include <QChar>
#include <QString>

// The lower-case first letter of a common hanzi's pinyin, or 0 for any other
// character (and for the rarer hanzi, which the table leaves out).
char PinyinInitial(QChar c);
// The text with every hanzi that has a known initial replaced by that letter;
// everything else stays as it is. "北京机房" gives "bjjf".
QString PinyinInitials(const QString &text);
// Whether the text holds at least one hanzi with a known initial.
bool HasHanzi(const QString &text);
