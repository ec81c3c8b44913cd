#include "RowLook.h"

#include <QBrush>
#include <QColor>

namespace {

const QColor kOfflineGrey(160, 160, 164);
const QColor kOfflineRed(255, 0, 0);
const QColor kOnlineGreen(0, 128, 0);

bool offline(HostStatus status)
{
    return status == HostStatus::Offline || status == HostStatus::NotFound;
}

} // namespace

QVariant RowBackground(HostStatus status)
{
    return offline(status) ? QVariant(QBrush(kOfflineGrey)) : QVariant();
}

QVariant StatusForeground(HostStatus status)
{
    if (offline(status))
        return QBrush(kOfflineRed);
    if (status == HostStatus::Online)
        return QBrush(kOnlineGreen);
    return QVariant();
}
