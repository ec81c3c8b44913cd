#include "LatencyColumnOption.h"

#include "ProgramSettings.h"

namespace {

const QString kKey = QStringLiteral("List/LatencyColumn");

} // namespace

bool LatencyColumnShown()
{
    return ProgramSettings().value(kKey, false).toBool();
}

void SetLatencyColumnShown(bool on)
{
    QSettings settings = ProgramSettings();
    settings.setValue(kKey, on);
    settings.sync();
}
