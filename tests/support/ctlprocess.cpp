#include "tests/support/ctlprocess.h"

#include "tests/support/box.h"

#include <QProcess>
#include <QSignalSpy>

CtlProcess::Result CtlProcess::run(const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    qRegisterMetaType<QProcess::ExitStatus>();
    QSignalSpy finished(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    process.start(QStringLiteral("nsenter"), QStringList{QStringLiteral("--net=/run/quorvant-box/peer-netns"),
                                                          Box::ctlPath()} + arguments);
    Result result;
    if (!process.waitForStarted(5000))
        return result;
    if (finished.isEmpty() && !finished.wait(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}
