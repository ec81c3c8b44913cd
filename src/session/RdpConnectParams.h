#pragma once

#include "RdpReconnect.h"

#include <QString>

#include <cstdint>

// What one remote desktop connection needs to know before it starts.
struct RdpConnectParams {
    QString Host;
    int Port = 3389;
    QString Domain;
    QString User;
    QString Password;
    int Width = 1024;
    int Height = 768;
    int ColorDepth = 24;
    uint32_t KeyboardLayout = 0; // 0: the desktop's
    bool RedirectClipboard = true;
    bool GraphicsPipeline = true;  // offered at 24 and 32 bits
    bool GraphicsAvc444 = false;   // H.264 in full colour too, not only AVC420
    bool DynamicResolution = true; // the desktop follows the window where the server can
    QString CertificateStore;      // folder of the known-hosts store
    RdpReconnectTiming Reconnect;  // after a loss of the network
};
