// The real daemon as a child process of a test, inside the box.
#pragma once

#include <QByteArray>
#include <QProcess>

class DaemonProcess
{
public:
    ~DaemonProcess();
    // Starts build/quorvant and waits until it runs; false when it could not start.
    bool start();
    // Terminates it and waits; kills it when it does not end within a few seconds.
    void stop();
    bool isRunning() const;
    // Everything it printed so far (standard output and error merged); normally nothing.
    QByteArray output();

private:
    QProcess m_process;
    QByteArray m_output;
};
