#pragma once

#include "RdpCommon.h"

class QWidget;

// What another administrator changed in a server since `opened` (what the dialog
// showed), one line a field, "字段：旧 → 新"; empty when nothing shown differs.
// Passwords are each user's own and never differ between administrators.
QString ColleagueChanges(const TSvrItem &opened, const TSvrItem &theirs);

// The user's edits (settings and description, from a dialog that showed `opened`)
// laid over the record another administrator saved meanwhile: each field the user
// changed takes the user's value, every other field the colleague's. The password
// is the user's own.
void KeepMineOnTop(const TSvrItem &opened, const TSvrItem &theirs, TClientSettings &settings, QString &description);

// Asks, after another administrator saved the server while the user edited it,
// whether to keep the user's edits on top of theirs (true, see KeepMineOnTop) or
// take theirs (false).
bool KeepMineOverColleague(QWidget *owner, const TSvrItem &opened, const TSvrItem &theirs);
// The same for a group that another administrator renamed while the user renamed it.
bool KeepMineOverColleague(QWidget *owner, const QString &myName, const TSvrGroup &theirs);
