#pragma once

// Files made to hurt an importer: nesting far deeper than any real list has.

#include <QByteArray>

namespace HostileFiles {

// An .rdg file of `levels` groups, each inside the one before, a server in the innermost.
inline QByteArray DeepRdg(int levels)
{
    QByteArray bytes = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<RDCMan programVersion=\"2.90\" schemaVersion=\"3\"><file>";
    bytes.reserve(levels * 60);
    for (int i = 0; i < levels; ++i)
        bytes += "<group><properties><name>g</name></properties>";
    bytes += "<server><properties><name>127.0.0.1</name></properties></server>";
    for (int i = 0; i < levels; ++i)
        bytes += "</group>";
    bytes += "</file></RDCMan>\n";
    return bytes;
}

// An mRemoteNG list of `levels` folders, each inside the one before, a connection in the innermost.
inline QByteArray DeepConfCons(int levels)
{
    QByteArray bytes = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<mrng:Connections xmlns:mrng=\"http://mremoteng.org\" Name=\"Connections\" ConfVersion=\"2.6\">";
    bytes.reserve(levels * 40);
    for (int i = 0; i < levels; ++i)
        bytes += "<Node Name=\"f\" Type=\"Container\">";
    bytes += "<Node Name=\"c\" Type=\"Connection\" Hostname=\"127.0.0.1\" Protocol=\"RDP\" />";
    for (int i = 0; i < levels; ++i)
        bytes += "</Node>";
    bytes += "</mrng:Connections>\n";
    return bytes;
}

// An .rdg file whose one server holds `levels` elements, each inside the one before.
inline QByteArray DeepRdgElements(int levels)
{
    QByteArray bytes = "<RDCMan><file><server>";
    for (int i = 0; i < levels; ++i)
        bytes += "<x>";
    for (int i = 0; i < levels; ++i)
        bytes += "</x>";
    bytes += "</server></file></RDCMan>";
    return bytes;
}

} // namespace HostileFiles
