#pragma once
// What the host of the download component is shown of a transfer: the rate and the time
// left as texts, and how the machine is connected to the network.
#include <QString>

namespace krv::download {

// "512 Bytes/S" below 1024 bytes a second, "1.5 KB/S" below 1 MiB a second (the user's
// decimal separator), empty text for anything else.
QString FormatRate(double rate);

// "42 sec", "2 min 5 sec", "2 hr 3 min".
QString FormatTime(float timeLeft);

// The machine's connection: online when a default route exists; through a modem when that
// route's interface is a ppp one, else through a LAN; behind a proxy when the environment
// names one.
struct ConnectionFlags {
    bool online = false;
    bool modem = false;
    bool lan = false;
    bool proxy = false;
};

// Reads the kernel's route table (text of /proc/net/route) and the proxy variables.
ConnectionFlags connectionFlags(const QString& routeTable, bool proxyInEnvironment);
// The same for this machine now.
ConnectionFlags currentConnection();

// Tests point the route table elsewhere; an empty path restores /proc/net/route.
void setRouteTablePath(const QString& path);

} // namespace krv::download
