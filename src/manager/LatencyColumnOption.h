#pragma once

// Whether the server list shows the narrow column of each server's latency over
// the last half hour. Off unless the user turns it on.
bool LatencyColumnShown();
void SetLatencyColumnShown(bool on);
