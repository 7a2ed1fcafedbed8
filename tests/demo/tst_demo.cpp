// The demo a newcomer runs first, driven by a command file as CI runs it: the board plays the
// playlist, the tool reads the network, a reset file is applied at the next start. Two lines that
// must fail are appended, so one run shows both that every real line works and that failures count.

#include "tests/support/testmain.h"

class TestDemo : public QObject
{
    Q_OBJECT
private slots:
    void scriptRunsAndOnlyTheUnmetLinesFail()
    {
        QByteArray script = DeviceFiles::readFile(QUORVANT_SOURCE_DIR "/tests/demo/playback-network-reset.demo");
        // A command that succeeds but is marked as expected to fail, and text the tool never prints.
        script += "\n! quorvant-ctl reset-file --password -o /tmp\nexpect tool no such words\n";
        DeviceFiles::writeFile("/tmp/demo-script", script);
        QProcess demo;
        demo.setProcessChannelMode(QProcess::MergedChannels);
        // The demo's inner half: this test already runs in a fresh box with everything built.
        demo.start(QUORVANT_SOURCE_DIR "/scripts/demo", {"--inner", "no", "/tmp/demo-script"});
        const bool finished = demo.waitForFinished(300000);
        const QByteArray output = demo.readAll();
        // Two failures, both the planted ones: every line of the real script did what it should.
        QVERIFY2(finished && output.contains("demo: 2 command(s) did not do what they should"), output.right(3000).constData());
        // One is the planted "!" line, so the other is the planted expectation, which cannot be met.
        QVERIFY(output.contains("demo: expected quorvant-ctl to fail, it succeeded"));
        QCOMPARE(demo.exitCode(), 1);
    }
};

QUORVANT_TEST_MAIN(TestDemo)
#include "tst_demo.moc"
