#include "tests/support/ctlprocess.h"

#include "tests/support/box.h"

#include <QProcess>

CtlProcess::Result CtlProcess::run(const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start("nsenter", QStringList{"--net=/run/quorvant-box/peer-netns", Box::ctlPath()} + arguments);
    Result result;
    if (!process.waitForStarted(5000))
        return result;
    // Waits in the event loop rather than in waitForFinished(): fake boxes in this thread must answer.
    if (QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        if (process.exitStatus() == QProcess::NormalExit)
            result.exitCode = process.exitCode();
    } else {
        process.kill();
        process.waitForFinished(5000);
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}
