#pragma once

#include <QString>

// The text shown for the reason a connection ended; empty when nothing is shown.
QString DisconnectReasonText(int discReason);
