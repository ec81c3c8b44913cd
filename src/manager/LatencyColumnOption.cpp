#include "LatencyColumnOption.h"

#include "ProgramSettings.h"

namespace {

const QString kKey = QStringLiteral("List/LatencyColumn");

} // namespace

bool LatencyColumnShown()
{
    return ProgramFlag(kKey);
}

void SetLatencyColumnShown(bool on)
{
    SetProgramFlag(kKey, on);
}
