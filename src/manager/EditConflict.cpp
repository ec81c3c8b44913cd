#include "EditConflict.h"

#include "MsgBox.h"

#include <QStringList>

namespace {

constexpr int kShown = 60; // characters of a value shown; longer ones end in "…"

QString shown(const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("（空）");
    return value.size() > kShown ? value.left(kShown) + QStringLiteral("…") : value;
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("是") : QStringLiteral("否");
}

} // namespace

QString ColleagueChanges(const TSvrItem &opened, const TSvrItem &theirs)
{
    const TClientSettings &a = opened.ClntSett;
    const TClientSettings &b = theirs.ClntSett;
    const std::vector<std::tuple<QString, QString, QString>> fields = {
        {QStringLiteral("服务器"), a.Server, b.Server},
        {QStringLiteral("端口"), QString::number(a.Port), QString::number(b.Port)},
        {QStringLiteral("域"), a.Domain, b.Domain},
        {QStringLiteral("用户名"), a.User, b.User},
        {QStringLiteral("宽"), QString::number(a.Width), QString::number(b.Width)},
        {QStringLiteral("高"), QString::number(a.Height), QString::number(b.Height)},
        {QStringLiteral("全屏"), yesNo(a.FullScreen), yesNo(b.FullScreen)},
        {QStringLiteral("颜色"), QString::number(a.ColorDepth), QString::number(b.ColorDepth)},
        {QStringLiteral("备注"), opened.Description, theirs.Description},
        {QStringLiteral("组"), opened.Group.GroupName, theirs.Group.GroupName},
    };
    QStringList lines;
    for (const auto &[name, before, after] : fields)
        if (before != after)
            lines << QStringLiteral("%1：%2 → %3").arg(name, shown(before), shown(after));
    return lines.join(QLatin1Char('\n'));
}

namespace {

template <class T>
void layOver(T &mine, const T &opened, const T &theirs)
{
    if (mine == opened)
        mine = theirs;
}

} // namespace

void KeepMineOnTop(const TSvrItem &opened, const TSvrItem &theirs, TClientSettings &settings, QString &description)
{
    const TClientSettings &a = opened.ClntSett;
    const TClientSettings &b = theirs.ClntSett;
    layOver(settings.Server, a.Server, b.Server);
    layOver(settings.Port, a.Port, b.Port);
    layOver(settings.Domain, a.Domain, b.Domain);
    layOver(settings.User, a.User, b.User);
    layOver(settings.Width, a.Width, b.Width);
    layOver(settings.Height, a.Height, b.Height);
    layOver(settings.FullScreen, a.FullScreen, b.FullScreen);
    layOver(settings.ColorDepth, a.ColorDepth, b.ColorDepth);
    layOver(description, opened.Description, theirs.Description);
}

bool KeepMineOverColleague(QWidget *owner, const TSvrItem &opened, const TSvrItem &theirs)
{
    QString changes = ColleagueChanges(opened, theirs);
    if (changes.isEmpty())
        changes = QStringLiteral("（保存的内容与您打开对话框时相同）");
    const QString text = QStringLiteral("在您编辑服务器 %1 期间，其他管理员修改并保存了它：\n%2\n\n"
                                        "选“是”保留您的修改（您改过的项以您的为准，其余采用其他管理员的）；\n"
                                        "选“否”采用其他管理员的修改（放弃您的修改）。")
                             .arg(shown(opened.ClntSett.Server), changes);
    return ShowMessageBox(owner, text, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool KeepMineOverColleague(QWidget *owner, const QString &myName, const TSvrGroup &theirs)
{
    const QString text = QStringLiteral("在您改名期间，其他管理员已把这个组改名为“%1”。\n\n"
                                        "选“是”仍改名为“%2”；\n选“否”保留“%1”。")
                             .arg(shown(theirs.GroupName), shown(myName));
    return ShowMessageBox(owner, text, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}
