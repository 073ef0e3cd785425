#pragma once

#include <QByteArray>

// The host and port of a socket open as the Telit and EC25 drivers put them
// into their connect commands: "host[:port]", blanks around the host removed,
// port 80 when none is given, and the built-in cloud endpoint for an empty
// address. The race engine never opens that endpoint (an empty host ends its
// upload first), but the drivers keep the path. A plain value.
struct SocketAddress
{
    QByteArray host;
    QByteArray port;

    // False (logged) when the host cannot stand between double quotes or the
    // port is no port number: such a setting would end the command early.
    static bool parse(const QByteArray &address, SocketAddress *out);

    static constexpr const char *kDefaultCloudHost = "cloud.brellium.example";
    static constexpr int kDefaultCloudPort = 9080;
};
