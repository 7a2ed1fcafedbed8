#include "tests/support/ctlprocess.h"

#include "tests/support/testmain.h"

CtlProcess::Result CtlProcess::run(const QStringList &arguments, int timeoutMs, const std::function<void()> &onExit)
{
    QProcess process;
    if (onExit)
        QObject::connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), onExit);
    process.start("nsenter", QStringList{"--net=/run/quorvant-box/peer-netns", Box::ctlPath()} + arguments);
    // Waits in the event loop rather than in waitForFinished(): fake boxes in this thread must answer.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
    }
    const bool exited = process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart;
    return {exited ? process.exitCode() : -1, process.readAllStandardOutput(), process.readAllStandardError()};
}
