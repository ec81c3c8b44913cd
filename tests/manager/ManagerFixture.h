#pragma once

#include "FormChild.h"
#include "MgmtForm.h"
#include "RdpCommon.h"
#include "ServerListModel.h"
#include "ServerListView.h"

#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// One row of the manager's list, read through the list's model as the view reads it.
struct ListRow {
    ServerListModel *list = nullptr;
    TRowObject *object = nullptr;

    explicit operator bool() const { return object != nullptr; }
    QModelIndex index(int column = ColServer) const { return list ? list->IndexOf(object, column) : QModelIndex(); }
    QVariant data(int column, int role) const { return index(column).data(role); }
    QString text(int column) const { return data(column, Qt::DisplayRole).toString(); }
    HostStatus Status() const { return data(ColStatus, ServerListModel::StatusRole).value<HostStatus>(); }
    // The glyph a group row shows: 0 expanded, 1 collapsed; -1 for a server row.
    int ImageIndex() const { return data(ColServer, ServerListModel::GlyphRole).toInt(); }
    TItem *item() const { return ItemOf(object); }
    TGroupItem *group() const { return GroupOf(object); }
};

// The manager's list, its model, and the row at an index of the model.
inline TServerListView *ListView(QWidget *form)
{
    return form->findChild<TServerListView *>(QStringLiteral("lvSvr"));
}
inline ServerListModel *ListModel(QWidget *form)
{
    return ListView(form)->List();
}
inline ListRow RowAt(QWidget *form, int index)
{
    return ListRow{ListModel(form), ListModel(form)->RowObject(index)};
}

// A report of the server's poller, as it reaches the list: through the channel
// that all the list's pollers report through.
inline void Report(ServerListModel *list, TItem *item, HostStatus status)
{
    emit list->Reports()->statusReported(item, status);
}

// A manager window over a catalogue file of the test's own.
struct ManagerFixture {
    QTemporaryDir dir;
    QString file;
    std::unique_ptr<TfrmMgmt> form;

    explicit ManagerFixture(const QByteArray &catalogue)
    {
        // The window keeps its servers' history in the state folder and its options
        // in the settings folder: the test's own, never the user's, unless the test
        // chose them.
        static QTemporaryDir state;
        static QTemporaryDir config;
        if (qEnvironmentVariableIsEmpty("XDG_STATE_HOME"))
            qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        file = dir.filePath(QStringLiteral("SvrList.ini"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(catalogue) != catalogue.size())
            qFatal("cannot write the catalogue");
        out.close();
        UseIniFile(file);
        form = std::make_unique<TfrmMgmt>();
        form->show();
    }
    ~ManagerFixture()
    {
        form.reset();
        ReleaseCatalogue();
    }

    QByteArray fileText() const
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    // The list as text: group rows as their glyph, "-" expanded or "+" collapsed,
    // and name; server rows as "  address|user|description".
    TServerListView *view() const { return ListView(form.get()); }
    ServerListModel *list() const { return ListModel(form.get()); }

    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < list()->RowCount(); ++i) {
            const ListRow row = RowAt(form.get(), i);
            if (row.group())
                out << (row.ImageIndex() == 0 ? QStringLiteral("-") : QStringLiteral("+")) + row.text(0);
            else
                out << QStringLiteral("  %1|%2|%3").arg(row.text(0), row.text(1), row.text(3));
        }
        return out;
    }

    int indexOf(const QString &caption) const
    {
        for (int i = 0; i < list()->RowCount(); ++i)
            if (RowAt(form.get(), i).text(0) == caption)
                return i;
        return -1;
    }

    ListRow row(const QString &caption) const { return RowAt(form.get(), indexOf(caption)); }

    void select(const QString &caption) const
    {
        view()->clearSelection();
        if (const ListRow r = row(caption))
            view()->SelectRow(r.object);
    }

    // Lets the application fall idle, as between two gestures of the user.
    static void idle()
    {
        QEventLoop loop; // waits for events, so the application does fall idle
        QTimer::singleShot(30, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QStringList comboEntries() const
    {
        QStringList out;
        for (int i = 0; i < Child<QComboBox>(form, "cbbGrp")->count(); ++i)
            out << Child<QComboBox>(form, "cbbGrp")->itemText(i);
        return out;
    }
};

// A small catalogue: two groups with servers, one empty group, one ungrouped server.
inline QByteArray SmallCatalogue()
{
    return QByteArray("[MISC]\nMaxGroupID=3\nMaxServerId=4\n"
                      "[GroupItem1]\nGroupName=Web\n[GroupItem2]\nGroupName=DB\n[GroupItem3]\nGroupName=Empty\n"
                      "[ServerItem1]\nGroupId=1\nServer=127.0.0.1\nUser=web1\nPassword=2EB4\nDescription=first\n"
                      "[ServerItem2]\nGroupId=1\nServer=127.0.0.2\nUser=web2\nPassword=2EB4\nDescription=second\n"
                      "[ServerItem3]\nGroupId=2\nServer=127.0.0.3\nUser=db\nPassword=2EB4\n"
                      "[ServerItem4]\nGroupId=-1\nServer=127.0.0.4\nUser=\nPassword=\n");
}

// The rows the manager shows for SmallCatalogue(), every group expanded.
inline QStringList SmallCatalogueRows()
{
    return {
        QStringLiteral("-Web"),
        QStringLiteral("  127.0.0.1|web1|first"),
        QStringLiteral("  127.0.0.2|web2|second"),
        QStringLiteral("-DB"),
        QStringLiteral("  127.0.0.3|db|"),
        QStringLiteral("-未分组"),
        QStringLiteral("  127.0.0.4||"),
    };
}
