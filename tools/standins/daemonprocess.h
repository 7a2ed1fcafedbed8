// The real daemon as a child process of a test, inside the box.
#pragma once

#include <QProcess>

class DaemonProcess
{
public:
    ~DaemonProcess() { stop(); }
    // Starts build/quorvant and waits until it runs; false when it could not start.
    bool start();
    // Terminates it and waits; kills it when it does not end within a few seconds.
    void stop();
    // Ends it at once with SIGKILL, as a power cut would, and waits.
    void kill();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    // Resident memory in KiB and the CPU time used so far in clock ticks; -1 when not running.
    qint64 rssKiB() const;
    qint64 cpuTicks() const;
    // Everything it printed since start() (standard output and error merged); normally nothing.
    QByteArray output() { return m_process.peek(m_process.bytesAvailable()); }

private:
    QProcess m_process;
};
