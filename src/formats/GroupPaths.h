#pragma once

#include <QSet>
#include <QString>

// Names the groups of one file as the catalogue's groups: a nested group as the
// path of its names ("北京机房 / 测试"). Two groups that the file keeps apart never
// get one name, even when their names (or paths) are alike or differ only in
// letter case, as the catalogue tells group names apart: the later one gets
// " (2)", " (3)" ... added.
class TGroupPaths {
public:
    // The name for a group called `name` inside the group named `parent` (empty
    // for the file's top level). Call once for each group of the file.
    QString Claim(const QString &parent, const QString &name);

    // The longest group name made; longer paths are cut.
    static constexpr qsizetype MaxLength = 255;
    static QString Separator() { return QStringLiteral(" / "); }

private:
    QSet<QString> taken_; // case-folded
};
