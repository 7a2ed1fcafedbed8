#include "tests/player/playerrig.h"

namespace {
const QString abc = "a.mp4,b.mp4,c.mp4";
const QString playing = "play; expect stop:0, open:a.mp4; onplay 1;";
const auto row = &PlayerRig::row;
}

class TestPlayback : public QObject
{
    Q_OBJECT
private slots:
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
