#pragma once
// Commands that talk to boxes over UDP: discovery and search, setting the serial number, and
// sending transport control levels.

#include <QStringList>

class UdpCommands
{
public:
    static int discover(const QStringList &arguments);
    static int setSerial(const QStringList &arguments);
    static int control(const QStringList &arguments);
};
