#include "GroupPaths.h"

namespace {

QString unnamed()
{
    return QStringLiteral("未命名组");
}

QString cut(const QString &text, qsizetype length)
{
    QString out = text.left(length);
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    return out;
}

} // namespace

QString TGroupPaths::Claim(const QString &parent, const QString &name)
{
    QString own = name.simplified();
    if (own.isEmpty())
        own = unnamed();
    const QString path = cut(parent.isEmpty() ? own : parent + Separator() + own, MaxLength);
    QString claimed = path;
    for (int n = 2; taken_.contains(claimed.toCaseFolded()); ++n) {
        const QString suffix = QStringLiteral(" (%1)").arg(n);
        claimed = cut(path, MaxLength - suffix.size()) + suffix;
    }
    taken_.insert(claimed.toCaseFolded());
    return claimed;
}
