// The player beside the media-centre stand-in, driven by scripts (see playerrig.h): transport,
// track ends and pictures, entries that cannot play, the stand-by actions on signal loss, the link
// to the media centre and the stick configuration.
#include "tests/player/playerrig.h"

#define VERIFY_BETWEEN(value, low, high) QVERIFY2((value) >= (low) && (value) <= (high), qPrintable(QString::number(value)))

namespace {
const QString abc = "a.mp4,b.mp4,c.mp4";
const QString playing = "play; expect stop:0, open:a.mp4; onplay 1;";
const auto row = &PlayerRig::row;
}

class TestPlayback : public QObject
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
        row("reconnects 1000 ms after the link is dropped and keeps the state", ab, "", playing + "mark; drop; relink; took 900 2500; pause; expect pause:1");
        row("playing when the link comes back: the entry starts again", ab, "", playing + "drop; relink; expect stop:1, open:a.mp4");
        row("paused when the link comes back: stays paused", ab, "", playing + "pause; expect pause:1; drop; relink; wait 2500; none");
        row("a command while the link is down is lost, its state stands", ab, "", "drop; wait 300; play; relink; none; pause; expect pause:0");
        row("missing file at a later reading keeps the settings", ab, "showosd=true",
            "rmconfig; initPlayer; expect note:Config error|Config file doesn'n exist!; stop; expect stop:0, note:Stop|");
        // A file is parsed again only once it changed; "damage" changes it.
        row("damaged file: no playlist, error notice", ab, "showosd=true;[broken", "play; none; damage; initPlayer; expect note:Config|Error while loading config!");
        // The messages after one cut short are heard once it is given up (they used to be taken into it).
        row("a message cut short is given up", ab, "", "setMode 2;" + playing + "cut half; end; expect stop:1, open:b.mp4");
        row("a string that never ends is given up", ab, "", "setMode 2;" + playing + "cut string; end; expect stop:1, open:b.mp4");
        row("brackets that never close are given up", ab, "", "setMode 2;" + playing + "cut nested; end; expect stop:1, open:b.mp4");
        // Entry 65536 is the last one kept: a placeholder, which in single mode only stops.
        row("playlist size is bounded", "", "[playlist];size=100000", "setTrack 65535; play; expect stop:0; setTrack 65536; play; none");
    }

    void linkAndConfiguration() { PlayerRig::runScenario(); }

    // The play/pause/stop state table, notices, volume and track coalescing.
    void transport_data()
    {
        PlayerRig::addColumns();
        row("play while playing restarts the entry", abc, "", playing + "play; expect stop:1, open:a.mp4");
        row("pause then play resumes", abc, "", playing + "pause; expect pause:1; play; expect resume:1; none");
        row("pause twice then play restarts", abc, "", playing + "pause; expect pause:1; pause; none; play; expect stop:1, open:a.mp4");
        row("pause while stopped sends nothing, play then starts", abc, "", "pause; none; play; expect stop:0, open:a.mp4");
        row("stop while playing, then play restarts", abc, "", playing + "stop; expect stop:1; play; expect stop:1, open:a.mp4");
        row("playOnly restarts without changing the state", abc, "", "setMode 1; playOnly; expect stop:0, open:a.mp4; end; wait 700; none");
        row("notices with showosd; stop while paused, then play restarts", abc, "showosd=true", "play; expect stop:0, open:a.mp4, note:Play|a.mp4; "
            "onplay 1; pause; expect pause:1, note:Pause|; stop; expect stop:1, note:Stop|; play; expect stop:1, open:a.mp4, note:Play|a.mp4");
        row("empty playlist sends nothing", "", "", "play; setMode 4; end; wait 700; none");
        for (const auto &[in, out] : QList<QPair<int, int>>{{0, 0}, {1, 1}, {32, 50}, {63, 100}, {65535, 104023}})
            QTest::addRow("volume %d sends %d", in, out) << abc << "" << QString("setVolume %1; expect volume:%2").arg(in).arg(out);
        row("three volume changes give one request with the last value", abc, "",
            "mark; setVolume 10; setVolume 20; setVolume 63; expect volume:100; took 450 1000; wait 600; none");
        row("track change while playing plays the new entry 500 ms later", abc, "",
            playing + "mark; setTrack 1; setTrack 2; expect stop:1, open:c.mp4; took 450 1000; wait 600; none");
        row("track change while paused stops and keeps the new index", abc, "",
            playing + "pause; expect pause:1; setTrack 1; expect stop:1; wait 600; none; play; expect stop:1, open:b.mp4");
        row("stop while an entry opens: it is stopped once it reports playing", abc, "",
            playing + "setTrack 1; expect stop:1, open:b.mp4; stop; expect stop:1; onplay 0; expect stop:0; onplay 0; none");
        row("stop while stopped; a track change then only selects", abc, "", "stop; expect stop:0; setTrack 2; wait 700; none; play; expect stop:0, open:c.mp4");
        row("index beyond the list only stores it", abc, "", playing + "setTrack 5; wait 700; none; play; none");
    }

    void transport() { PlayerRig::runScenario(); }
    // What each play mode does at a track end, and how long a picture stays.
    void trackEndsAndPictures_data()
    {
        PlayerRig::addColumns();
        row("loop single repeats the entry", abc, "", "setMode 1;" + playing + "end; expect stop:1, open:a.mp4");
        // Uniform over the whole list: forty picks out of three miss one entry with a chance of about 3e-7.
        row("shuffle reaches every entry", abc, "", "setMode 4;" + playing + QString("onplay 1; end;").repeated(40) + "opened 3");
        row("shuffle of one entry plays it again", "a.mp4", "", "setMode 4;" + playing + "end; expect stop:1, open:a.mp4");
        row("playlist skips a missing entry after 500 ms and ends", "a.mp4,missing.mp4,c.mp4", "",
            "setMode 2;" + playing + "mark; end; expect stop:1, open:c.mp4; took 450 1000; onplay 1; end; wait 700; none");
        row("loop playlist wraps round past a missing entry", "a.mp4,b.mp4,missing.mp4", "",
            "setMode 3;" + playing + "end; expect stop:1, open:b.mp4; onplay 1; mark; end; expect stop:1, open:a.mp4; took 0 300");
        row("loop playlist of placeholders never opens", "missing1,missing2", "", "setMode 3; play; wait 1600; none");
        row("unknown mode: a track end does nothing", abc, "", "setMode 7;" + playing + "end; wait 700; none");
        row("track end while stopped is ignored", abc, "", "setMode 3;" + playing + "stop; expect stop:1; end; wait 700; none");
        row("end reported for the picture player is ignored", abc, "", "setMode 3; play; expect stop:0, open:a.mp4; onplay 2; end 2; none");
        // Opening a picture first reports the end of an earlier slideshow.
        row("an end naming the picture player never ends a video", abc, "", "setMode 3;" + playing + "end 2; none; end; expect stop:1, open:b.mp4");
        row("an end before the opened entry plays belongs to the one it replaced", abc, "",
            "setMode 3;" + playing + "setTrack 1; expect stop:1, open:b.mp4; end; none; onplay 1; end; expect stop:1, open:c.mp4");
        row("track end glued to another message is not lost", abc, "", "setMode 3; play; expect stop:0, open:a.mp4; glued onplay 1 + end; expect stop:1, open:b.mp4");

        const QString pictures = "p.png,b.mp4", picture = "play; expect stop:0, open:p.png; mark; onplay 2;";
        row("picture, single: ends after its interval", pictures, "imageinterval=1", picture + "expect stop:2; took 900 1600; wait 500; none");
        row("picture: default interval is ten seconds", pictures, "", picture + "expect stop:2; took 9400 11500");
        row("picture, loop single: stays", pictures, "imageinterval=1", "setMode 1;" + picture + "wait 1600; none");
        row("picture, playlist: moves on 100 ms after it", pictures, "imageinterval=1", "setMode 2;" + picture + "expect stop:2, stop:2, open:b.mp4; took 1000 1800");
        row("picture paused: stays, restarts on play", pictures, "imageinterval=1", picture + "pause; wait 1500; none; play; expect stop:2, open:p.png");
        // One stop per picture, not one per turn of the event loop until the next entry starts.
        row("picture interval 0: one stop, then the next entry", pictures, "imageinterval=0",
            "setMode 2;" + picture + "expect stop:2, stop:2, open:b.mp4; wait 300; none");
        row("negative picture interval: the picture stays", pictures, "imageinterval=-1", "setMode 2;" + picture + "wait 1600; none");
        row("picture: a track change stops its timer", pictures, "imageinterval=1", picture + "setTrack 1; expect stop:2, open:b.mp4; wait 700; none");
    }

    void trackEndsAndPictures() { PlayerRig::runScenario(); }

    // An entry the media centre reports playing but never starts, or refuses, is passed over; a
    // round of nothing but such entries stops the box trying until something changes.
    void entriesThatCannotPlay_data()
    {
        PlayerRig::addColumns();
        const QString broken = "a.mp4,broken.mp4,c.mp4", nothing = "Play|Nothing on the playlist can be played";
        row("loop playlist passes over an entry that never starts", broken, "",
            "setMode 3;" + playing + "end; expect stop:1, open:broken.mp4; announced 1; gone; mark; expect active, stop:1, stop:1, open:c.mp4; "
            "took 300 1200; onplay 1; end; expect stop:1, open:a.mp4");
        row("single: the entry is stopped and nothing follows", broken, "",
            "setTrack 1; play; expect stop:0, open:broken.mp4; announced 1; gone; expect active, stop:1; wait 700; none");
        row("a slow start still listed as playing is waited for", broken, "",
            "setMode 3; play; expect stop:0, open:a.mp4; announced 1; alive; expect active; avstart 1; wait 3500; none; end; expect stop:1, open:broken.mp4");
        row("a paused entry is not judged on its start", broken, "",
            "play; expect stop:0, open:a.mp4; announced 1; pause; expect pause:1; wait 3500; none; play; expect resume:1; gone; expect active, stop:1");
        row("loop single gives up after one failed try, says so once, and a play tries again", broken, "showosd=true",
            "setTrack 1; setMode 1; play; expect stop:0, open:broken.mp4, note:Play|broken.mp4; announced 1; gone; expect active, stop:1, note:" + nothing
            + "; wait 3500; none; play; expect stop:1, open:broken.mp4, note:Play|broken.mp4");
        row("a refused round gives up; a mode command tries again", "a.mp4,b.mp4", "showosd=true",
            "setMode 3; rm a.mp4; rm b.mp4; play; expect stop:0, open:a.mp4, note:Play|a.mp4; refused; expect stop:0, open:b.mp4, note:Play|b.mp4; refused; "
            "expect note:" + nothing + "; wait 1500; none; setMode 3; expect stop:0, open:a.mp4, note:Play|a.mp4");
        row("given up, a track command tries again", "a.mp4,b.mp4", "",
            "setMode 3; rm a.mp4; rm b.mp4; play; expect stop:0, open:a.mp4; refused; expect stop:0, open:b.mp4; refused; wait 1000; none; "
            "setTrack 1; expect stop:0, open:b.mp4");
        row("one good entry keeps the round going", "a.mp4,b.mp4", "",
            "setMode 3; rm b.mp4; play; expect stop:0, open:a.mp4; onplay 1; end; expect stop:1, open:b.mp4; refused; expect stop:1, open:a.mp4; onplay 1; end; "
            "expect stop:1, open:b.mp4; refused; expect stop:1, open:a.mp4");
        row("given up, a stick pulled and put back plays again", "a.mp4,b.mp4", "",
            "setMode 3; rm a.mp4; rm b.mp4; play; expect stop:0, open:a.mp4; refused; expect stop:0, open:b.mp4; refused; pull; wait 2500; plug b.mp4; "
            "expect stop:0, open:b.mp4");
        row("a stop while an entry starts ends it there", broken, "",
            "setTrack 1; play; expect stop:0, open:broken.mp4; announced 1; stop; expect stop:1; wait 3500; none");
    }

    void entriesThatCannotPlay() { PlayerRig::runScenario(); }

    void standbyActions_data()
    {
        PlayerRig::addColumns();
        const QString playStandby = "nodmxaction=0;nodmxtrack=3;nodmxmode=2;nodmxvolume=40";
        row("play standby entry: loss while stopped plays it 1000 ms later", abc, playStandby,
            "mark; dmx off; expect volume:40; expect stop:0, open:c.mp4; took 950 1600;"
            // Back again: the media centre is stopped but the state says playing, so play restarts the selection.
            "onplay 1; dmx on; expect stop:1; play; expect stop:1, open:a.mp4");
        row("play standby entry: loss while playing stops first, then the entry follows its own mode", abc, "nodmxtrack=2;nodmxmode=2",
            playing + "dmx off; expect stop:1, volume:100; expect stop:1, open:b.mp4; onplay 1; end; expect stop:1, open:c.mp4");
        PlayerRig::row("play standby entry: on return the stand-by picture's interval no longer moves on", "a.mp4,p.png",
            "nodmxtrack=2;nodmxmode=3;imageinterval=1", "dmx off; expect volume:100; expect stop:0, open:p.png; onplay 2; dmx on; expect stop:2; wait 1500; none");
        row("play standby entry: quick return still gets the delayed play", abc, playStandby, "dmx off; expect volume:40; dmx on; expect stop:0; expect stop:0, open:a.mp4");
        row("stop: loss stops once however often reported; return restores without opening", abc, "nodmxaction=1",
            playing + "dmx off; dmx off; expect stop:1, volume:100; dmx on; wait 1200; none; play; expect stop:1, open:a.mp4");
        row("monitor off: loss and return switch the monitor after 300 ms", abc, "nodmxaction=2",
            playing + "mark; dmx off; expect volume:100; monitor 0; took 250 1000; none; mark; dmx on; monitor 1; took 250 1000; none");
        row("unknown action: only the volume", abc, "nodmxaction=7", playing + "dmx off; expect volume:100; wait 1200; none");
        row("track, mode and volume ignored while the signal is absent", abc, "nodmxaction=1",
            "dmx off; expect volume:100; setTrack 2; setMode 3; setVolume 10; wait 700; none;"
            "play; expect stop:0, open:a.mp4; onplay 1; end; wait 700; none; pause; expect pause:1; stop; expect stop:1");
        row("Polish notices", abc, "showosd=true;nodmxaction=1;language=Polish",
            "dmx off; expect note:DMX|Brak sygnału DMX, volume:100; dmx on; expect note:DMX|Wznowienie sygnału DMX");

        // Configured values: bad ones are clamped or read as 0.
        const QString loss = "dmx off; expect volume:%1; expect stop:0, open:%2";
        row("negative action becomes play standby", abc, "nodmxaction=-3;nodmxtrack=2", loss.arg(100).arg("b.mp4"));
        row("track beyond the list plays nothing", abc, "nodmxtrack=5", "dmx off; expect volume:100; wait 1200; none");
        row("volume is sent unscaled; a non-number track reads as 0, the first entry", abc, "nodmxvolume=63;nodmxtrack=x", loss.arg(63).arg("a.mp4"));
    }

    void standbyActions() { PlayerRig::runScenario(); }

    // The stand-in answers as the real media centre does (stray picture stops, refusals, files it
    // cannot decode): every entry plays whole, round after round, and a file removed after the
    // playlist was read or one that cannot be decoded is passed over.
    void loopPlaylistRunsWholeRoundsAgainstTheStandIn()
    {
        const QStringList round{"clip.mp4", "picture.png", "gone.mp4", "broken.mp4", "tone.mp3"};
        PlayerRig::writeStick(round, "imageinterval=1");
        PlayerRig rig;
        rig.centre.setSimulatePlayback(true);
        rig.centre.setAutoEndMs(300);
        QVERIFY(rig.start());
        QVERIFY(QFile::remove(Box::stickPath() + "/gone.mp4"));
        rig.run("setMode 3; play");
        QTRY_VERIFY_WITH_TIMEOUT(rig.centre.requests("Player.Open").size() >= 11, 40000);
        const auto opens = rig.centre.requests("Player.Open");
        QStringList played;
        for (int i = 0; i < 11; ++i) {
            const QString file = opens[i].params().value("item")["file"].toString().section('/', -1);
            const qint64 shown = i < 10 ? opens[i + 1].atMs() - opens[i].atMs() : 1000;
            const qint64 whole = file == "picture.png" ? 950 : file.startsWith("gone") || file.startsWith("broken") ? 0 : 290;
            played << file + (shown >= whole ? "" : QString(" for only %1 ms").arg(shown));
        }
        QCOMPARE(played, round + round + QStringList{"clip.mp4"});
    }
};

QUORVANT_TEST_MAIN(TestPlayback)
#include "tst_playback.moc"
