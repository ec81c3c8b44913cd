#pragma once

#include "MgmtForm.h"
#include "RdpCommon.h"

#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// A manager window over a catalogue file of the test's own.
struct ManagerFixture {
    QTemporaryDir dir;
    QString file;
    std::unique_ptr<TfrmMgmt> form;

    explicit ManagerFixture(const QByteArray &catalogue)
    {
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
    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < form->lvSvr->topLevelItemCount(); ++i) {
            TListItem *row = RowAt(form->lvSvr, i);
            if (GroupOf(row))
                out << (row->ImageIndex() == 0 ? QStringLiteral("-") : QStringLiteral("+")) + row->text(0);
            else
                out << QStringLiteral("  %1|%2|%3").arg(row->text(0), row->text(1), row->text(3));
        }
        return out;
    }

    int indexOf(const QString &caption) const
    {
        for (int i = 0; i < form->lvSvr->topLevelItemCount(); ++i)
            if (RowAt(form->lvSvr, i)->text(0) == caption)
                return i;
        return -1;
    }

    TListItem *row(const QString &caption) const { return RowAt(form->lvSvr, indexOf(caption)); }

    void select(const QString &caption) const
    {
        form->lvSvr->clearSelection();
        if (TListItem *r = row(caption))
            r->setSelected(true);
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
        for (int i = 0; i < form->cbbGrp->count(); ++i)
            out << form->cbbGrp->itemText(i);
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
