#pragma once

#include "PingThread.h"

#include <QVariant>

// How a server row of the manager's list is coloured by its status, as item
// roles: offline (a host not found too) is medium grey across the row with the
// status in red; online shows a green status on the normal background; a row
// with no status yet is drawn normally. An invalid value leaves the list's own.
QVariant RowBackground(HostStatus status);
QVariant StatusForeground(HostStatus status);
