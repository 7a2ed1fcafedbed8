#include "tests/player/playerrig.h"

class TestPlayerLink : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QCoreApplication::setApplicationVersion("4.0.0"); }
    void init() { PlayerRig::writeStick({"a.mp4", "b.mp4"}, ""); }
    void connectsOnceTheMediaCentreListensThenRunsTheStartSequence();
    void reconnectsAfterTheMediaCentreClosesTheLinkAndKeepsTheState();
    void commandWhileTheLinkIsDownIsLostButItsStateStands();
    void oversizedMessageIsDroppedAndTheNextOneHandled();
    void configuration_data();
    void configuration() { PlayerRig::runScenario(); }
    void playlistSizeIsBounded();
};

namespace {
QList<qint64> arrivals(const FakeMediaCentre &centre, const QString &title)
{
    QList<qint64> times;
    for (const auto &r : centre.requests("GUI.ShowNotification"))
        if (r.params()["title"].toString() == title)
            times << r.atMs();
    return times;
}
}

void TestPlayerLink::connectsOnceTheMediaCentreListensThenRunsTheStartSequence()
{
    PlayerRig rig;
    QVERIFY(rig.start(false));
    QTest::qWait(2500);
    QVERIFY(rig.centre.listen());
    const qint64 listening = rig.centre.elapsedMs();
    QVERIFY(rig.waitForLink());
    const qint64 connected = rig.centre.elapsedMs();
    QVERIFY2(connected - listening <= 1300, qPrintable(QString::number(connected - listening)));

    QTRY_COMPARE_WITH_TIMEOUT(rig.initializedAtMs.size(), 1, 5000);
    const qint64 started = rig.initializedAtMs.first() - connected;
    QVERIFY2(started >= 1850 && started <= 2800, qPrintable(QString::number(started)));

    QTRY_COMPARE_WITH_TIMEOUT(arrivals(rig.centre, "Version").size(), 1, 12000);
    const qint64 version = arrivals(rig.centre, "Version").first() - rig.initializedAtMs.first();
    QVERIFY2(version >= 7500 && version <= 9000, qPrintable(QString::number(version)));
    const auto notice = rig.centre.requests("GUI.ShowNotification").last().params();
    QCOMPARE(notice["message"].toString(), QString("4.0.0"));
    QCOMPARE(notice["displaytime"].toInt(), 6000);
}

void TestPlayerLink::reconnectsAfterTheMediaCentreClosesTheLinkAndKeepsTheState()
{
    PlayerRig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.run("play; expect stop:0, open:a.mp4; onplay 1").isEmpty());
    rig.centre.dropClients();
    const qint64 dropped = rig.centre.elapsedMs();
    QTRY_COMPARE_WITH_TIMEOUT(rig.centre.connectionsAccepted(), 2, 5000);
    QTRY_COMPARE(rig.centre.clientCount(), 1);
    const qint64 back = rig.centre.elapsedMs() - dropped;
    QVERIFY2(back >= 900 && back <= 2500, qPrintable(QString::number(back)));
    // Still playing player 1: a pause goes out as such on the new link.
    QVERIFY2(rig.run("pause; expect pause:1").isEmpty(), "state lost over the reconnection");
    QTRY_COMPARE_WITH_TIMEOUT(rig.initializedAtMs.size(), 2, 6000);
}

void TestPlayerLink::commandWhileTheLinkIsDownIsLostButItsStateStands()
{
    PlayerRig rig;
    QVERIFY(rig.start(false));
    rig.call("play");
    QTest::qWait(300);
    QVERIFY(rig.centre.listen());
    QVERIFY(rig.waitForLink());
    const QString error = rig.run("none; pause; expect pause:0");
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestPlayerLink::oversizedMessageIsDroppedAndTheNextOneHandled()
{
    PlayerRig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.run("setMode 3; play; expect stop:0, open:a.mp4").isEmpty());
    QByteArray big = R"({"jsonrpc":"2.0","method":"Player.OnStop","params":{"data":{"end":true,"pad":")";
    big += QByteArray(JsonStreamSplitter::maxValueSize, 'x') + R"("}}})";
    rig.centre.push(big);
    QVERIFY(rig.push({FakeMediaCentre::onStop(true)}));
    const QString error = rig.run("expect stop:0, open:b.mp4; none");
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestPlayerLink::configuration_data()
{
    PlayerRig::addColumns();
    const QString ab = "a.mp4,b.mp4";
    for (const char *on : {"true", "TRUE", "1", "yes"})
        QTest::addRow("showosd=%s shows notices", on) << ab << QString("showosd=") + on << "stop; expect stop:0, note:Stop|";
    for (const char *off : {"false", "False", "0", ""})
        QTest::addRow("showosd=%s hides notices", off) << ab << QString("showosd=") + off << "stop; expect stop:0; none";
    QTest::newRow("missing file at a later reading keeps the settings") << ab << "showosd=true"
        << "rmconfig; initPlayer; expect note:Config error|Config file doesn'n exist!; stop; expect stop:0, note:Stop|";
    QTest::newRow("damaged file: no playlist, error notice, values still read") << ab << "showosd=true;[broken"
        // A file is parsed again only once it changed; "damage" changes it.
        << "play; none; damage; initPlayer; expect note:Config|Error while loading config!";
    QTest::newRow("missing playlist entry becomes a placeholder") << "a.mp4,missing.mp4,c.mp4" << ""
        << "setTrack 1; play; expect stop:0; setTrack 2; expect stop:0, open:c.mp4";
}

void TestPlayerLink::playlistSizeIsBounded()
{
    DeviceFiles::clearStick();
    DeviceFiles::writeStickFile("a.mp4", "media");
    DeviceFiles::writeStickConfig("[playlist]\nsize=100000\n1\\track=a.mp4\n");
    PlayerRig rig;
    QVERIFY(rig.start());
    // Entry 65536 is the last one kept: a placeholder, which in single mode only stops.
    const QString error = rig.run("setTrack 65535; play; expect stop:0; setTrack 65536; play; none");
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QUORVANT_TEST_MAIN(TestPlayerLink)
#include "tst_playerlink.moc"
