// A tiny /cfg of its own (three pages) for the write-failure tests, unmounted again on scope exit.
#pragma once

#include <QByteArray>
#include <QFile>

#include <sys/mount.h>

class SmallCfg
{
public:
    SmallCfg() { m_mounted = ::mount("cfg-small", "/cfg", "tmpfs", 0, "size=12k") == 0; }
    ~SmallCfg()
    {
        if (m_mounted)
            ::umount("/cfg");
    }
    bool mounted() const { return m_mounted; }
    bool makeReadOnly() { return ::mount(nullptr, "/cfg", nullptr, MS_REMOUNT | MS_RDONLY, "size=12k") == 0; }
    // Fills every free page, so the next file that needs one fails with "no space left".
    bool fill()
    {
        QFile filler(QStringLiteral("/cfg/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(1024, 'x');
        while (filler.write(block) == block.size()) {
        }
        return true;
    }

private:
    bool m_mounted = false;
};
