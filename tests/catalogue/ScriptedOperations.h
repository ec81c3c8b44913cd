#pragma once

#include "RdpCommon.h"

#include <QString>

// Operation number n (from 1) of a fixed, repeatable sequence of catalogue
// changes. What it does depends only on n and on the ids and counts that the
// catalogue holds, which are the same in memory and after a reload, so two
// processes running the sequence produce the same file step by step.
inline void ApplyScriptedOperation(int n)
{
    TSvrList &servers = GetSvrList();
    TSvrGroups &groups = GetSvrGroups();
    switch (n % 6) {
    case 0:
        AddGroup(QStringLiteral("组 %1").arg(n));
        break;
    case 1: {
        TClientSettings s;
        s.Server = QStringLiteral("127.0.%1.%2").arg(n / 250).arg(n % 250 + 1);
        s.User = QStringLiteral("用户%1").arg(n);
        s.Password = QStringLiteral("pw%1").arg(n);
        const int group = groups.Count() ? groups.Items(groups.Count() - 1)->GroupId : -1;
        AddSvrItem(s, group, QStringLiteral("描述 %1 ").arg(n).repeated(8));
        break;
    }
    case 2:
        if (servers.Count()) {
            TClientSettings s = servers.Items(0)->ClntSett;
            s.Port = 3000 + n;
            s.FullScreen = !s.FullScreen;
            UpdateSvrItem(servers.Items(0)->Id, s, QStringLiteral("更新 %1").arg(n));
        }
        break;
    case 3:
        if (servers.Count() && groups.Count())
            SetSvrGroup(servers.Items(servers.Count() - 1)->Id, groups.Items(0)->GroupName);
        break;
    case 4:
        if (groups.Count())
            RenameGroup(groups.Items(groups.Count() - 1)->GroupId, QStringLiteral("改名 %1").arg(n));
        break;
    case 5:
        if (servers.Count() > 4)
            DeleteSvrItem(servers.Items(0));
        else if (groups.Count() > 3)
            DeleteGroup(groups.Items(0)->GroupId);
        break;
    }
}
