#include "tools/standins/daemonprocess.h"

#include "tools/standins/box.h"

#include <QFile>

bool DaemonProcess::start()
{
    Box::requireBox();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(Box::daemonPath(), QStringList());
    return m_process.waitForStarted(10000);
}

void DaemonProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void DaemonProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

qint64 DaemonProcess::rssKiB() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!isRunning() || !status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qint64 DaemonProcess::cpuTicks() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
    if (!isRunning() || !stat.open(QIODevice::ReadOnly))
        return -1;
    // Fields 14 and 15 (user and system time) follow the command name, which may hold blanks.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}
