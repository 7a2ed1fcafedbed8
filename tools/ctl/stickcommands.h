#pragma once
// Commands that prepare files for a USB stick: the encrypted reset file and the software update
// pair (the program and its MD5 control file).

#include <QStringList>

class StickCommands
{
public:
    static int resetFile(const QStringList &arguments);
    static int updatePair(const QStringList &arguments);
};
