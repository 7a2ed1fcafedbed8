#pragma once
// Commands that log in to a box's configuration service: network settings, channel and name,
// password, the stick's playlist files and reboot.

#include <QStringList>

class TcpCommands
{
public:
    static int network(const QStringList &arguments);
    static int device(const QStringList &arguments);
    static int password(const QStringList &arguments);
    static int files(const QStringList &arguments);
    static int reboot(const QStringList &arguments);
};
