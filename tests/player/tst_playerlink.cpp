#include "tests/player/playerrig.h"

#define VERIFY_BETWEEN(value, low, high) QVERIFY2((value) >= (low) && (value) <= (high), qPrintable(QString::number(value)))

class TestPlayerLink : public QObject
{
    Q_OBJECT
private slots:
    void connectsOnceTheMediaCentreListensThenRunsTheStartSequence()
    {
        PlayerRig::writeStick({"a.mp4"}, "showosd=true");
        PlayerRig rig;
        rig.player.connectToPlayer();
        QTest::qWait(2500);
        QVERIFY(rig.centre.listen());
        const qint64 listening = rig.centre.elapsedMs();
        QVERIFY(rig.waitForLink());
        const qint64 connected = rig.centre.elapsedMs();
        VERIFY_BETWEEN(connected - listening, 0, 1300);
        // The configuration is read 2000 ms after the link is up (its first notice shows it), the version shown 8000 ms later.
        QTRY_COMPARE_WITH_TIMEOUT(rig.centre.requests().size(), 3, 15000);
        const auto notices = rig.centre.requests();
        QCOMPARE(notices[0].params()["title"].toString() + ", " + notices[2].params()["title"].toString(), "No dmx track, Version");
        VERIFY_BETWEEN(notices[0].atMs() - connected, 1850, 2800);
        VERIFY_BETWEEN(notices[2].atMs() - notices[0].atMs(), 7500, 9000);
    }

    void linkAndConfiguration_data()
    {
        PlayerRig::addColumns();
        const QString ab = "a.mp4,b.mp4";
        const auto row = &PlayerRig::row;
        row("reconnects 1000 ms after the link is dropped and keeps the state", ab, "",
            "play; expect stop:0, open:a.mp4; onplay 1; mark; drop; relink; took 900 2500; pause; expect pause:1");
        row("playing when the link comes back: the entry starts again", ab, "",
            "play; expect stop:0, open:a.mp4; onplay 1; drop; relink; expect stop:1, open:a.mp4");
        row("paused when the link comes back: stays paused", ab, "", "play; expect stop:0, open:a.mp4; onplay 1; pause; expect pause:1; drop; relink; wait 2500; none");
        row("a command while the link is down is lost, its state stands", ab, "", "drop; wait 300; play; relink; none; pause; expect pause:0");
        row("missing file at a later reading keeps the settings", ab, "showosd=true",
            "rmconfig; initPlayer; expect note:Config error|Config file doesn'n exist!; stop; expect stop:0, note:Stop|");
        // A file is parsed again only once it changed; "damage" changes it.
        row("damaged file: no playlist, error notice", ab, "showosd=true;[broken", "play; none; damage; initPlayer; expect note:Config|Error while loading config!");
        // Entry 65536 is the last one kept: a placeholder, which in single mode only stops.
        // The messages after one cut short are heard once it is given up (they used to be taken into it).
        const QString playing = "setMode 2; play; expect stop:0, open:a.mp4; onplay 1; ";
        row("a message cut short is given up", ab, "", playing + "cut half; end; expect stop:1, open:b.mp4");
        row("a string that never ends is given up", ab, "", playing + "cut string; end; expect stop:1, open:b.mp4");
        row("brackets that never close are given up", ab, "", playing + "cut nested; end; expect stop:1, open:b.mp4");
        row("playlist size is bounded", "", "[playlist];size=100000", "setTrack 65535; play; expect stop:0; setTrack 65536; play; none");
    }

    void linkAndConfiguration() { PlayerRig::runScenario(); }
};

QUORVANT_TEST_MAIN(TestPlayerLink)
#include "tst_playerlink.moc"
