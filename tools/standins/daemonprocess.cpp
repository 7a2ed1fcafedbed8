#include "tools/standins/daemonprocess.h"

#include "tools/standins/box.h"

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
