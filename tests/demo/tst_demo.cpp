// The demo a newcomer runs first, driven by a command file as CI runs it: the board plays the
// playlist, the tool reads the network, a reset file is applied at the next start.

#include "tests/support/box.h"

#include <QProcess>
#include <QTemporaryFile>
#include <QtTest/QtTest>

namespace {

struct DemoRun {
    int exitCode = -1;
    QByteArray output;
};

// The demo's inner half: this test already runs in a fresh box with everything built.
DemoRun runDemo(const QString &scriptFile)
{
    QProcess demo;
    demo.setProcessChannelMode(QProcess::MergedChannels);
    demo.start(QStringLiteral(QUORVANT_SOURCE_DIR "/scripts/demo"),
               {QStringLiteral("--inner"), QStringLiteral("no"), scriptFile});
    DemoRun run;
    if (demo.waitForFinished(240000) && demo.exitStatus() == QProcess::NormalExit)
        run.exitCode = demo.exitCode();
    else
        demo.kill();
    run.output = demo.readAll();
    return run;
}

} // namespace

class TestDemo : public QObject
{
    Q_OBJECT
private slots:
    void scriptRunsPlaybackNetworkReadAndReset();
    void unmetExpectationFailsTheRun();
};

void TestDemo::scriptRunsPlaybackNetworkReadAndReset()
{
    const DemoRun run = runDemo(QStringLiteral(QUORVANT_SOURCE_DIR "/tests/demo/playback-network-reset.demo"));
    QVERIFY2(run.exitCode == 0, run.output.right(3000).constData());
    QVERIFY(run.output.contains("demo: script done"));
    QVERIFY(!run.output.contains("NOT seen"));
}

void TestDemo::unmetExpectationFailsTheRun()
{
    QTemporaryFile script(QDir::tempPath() + QStringLiteral("/demo-XXXXXX"));
    QVERIFY(script.open());
    // A command that succeeds but is marked as expected to fail, and text the tool never prints.
    script.write("! quorvant-ctl reset-file --password -o /tmp\nexpect tool no such words\n");
    script.flush();
    const DemoRun run = runDemo(script.fileName());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains("demo: 2 command(s) did not do what they should"), run.output.right(2000).constData());
}

QUORVANT_TEST_MAIN(TestDemo)
#include "tst_demo.moc"
