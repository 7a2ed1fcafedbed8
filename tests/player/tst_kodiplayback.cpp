// The real daemon against the real media centre (Debian's kodi, run headless by scripts/kodi-headless),
// driven by the board: every play mode over whole rounds, pause, track changes, stop, volume, the
// stand-by loop while the DMX signal is lost, and the media centre restarted during playback. What
// played, in which order and for how long is read from the media centre's own notices.
#include "wire/dmxorder.h"
#include "tests/support/realmediacentre.h"
#include "tests/support/testmain.h"
#include "tools/standins/screenlog.h"

#include <utility>

namespace {
constexpr int mediaSeconds = 2;
// Clips and tones last mediaSeconds, a picture stays imageinterval (1 s). Generous margins: the
// machine is slow and shared, and a skipped or cut entry shows far shorter.
constexpr qint64 wholeMediaMs = 1700;
constexpr qint64 wholePictureMs = 900;

struct Play {
    int player;
    qint64 startMs;
    qint64 endMs = -1; // -1: not ended yet
    bool ended = false; // ran to its end (a picture: stopped by the box after its interval)
    bool started = false; // sound or picture started (a picture always does)
    qint64 ms() const { return endMs - startMs; }
};

// The plays the media centre reported from event `from` on. A picture's stop notice that comes
// while something else plays (the media centre's report of an earlier slideshow) ends nothing.
QList<Play> playsIn(const QList<MediaCentreWatch::Event> &events, int from)
{
    QList<Play> plays;
    int earlyStart = -1;
    qint64 earlyStartMs = 0;
    for (int i = from; i < events.size(); ++i) {
        const QString text = events.at(i).text;
        const qint64 at = events.at(i).atMs;
        Play *open = !plays.isEmpty() && plays.last().endMs < 0 ? &plays.last() : nullptr;
        if (text.startsWith("OnPlay ")) {
            if (open)
                open->endMs = at;
            const int player = text.section(' ', 1).toInt();
            // The start can come just before the item is reported playing: it then counts from there.
            const bool startedEarly = std::exchange(earlyStart, -1) == player;
            plays << Play{player, startedEarly ? earlyStartMs : at};
            plays.last().started = player == 2 || startedEarly;
        } else if (text.startsWith("OnAVStart ")) {
            if (open && open->player == text.section(' ', 1).toInt()) {
                open->started = true;
            } else {
                earlyStart = text.section(' ', 1).toInt();
                earlyStartMs = at;
            }
        } else if (open && (open->player == 2) == (text == "OnStop 2 end") && text.startsWith("OnStop")) {
            open->endMs = at;
            open->ended = text.endsWith("end");
        }
    }
    return plays;
}

// "video", "picture", "audio" for an entry played whole; otherwise what happened to it.
QString describe(const Play &play)
{
    if (!play.started)
        return ScreenLog::playerKind(play.player) + " never started";
    if (play.endMs < 0)
        return ScreenLog::playerKind(play.player) + " still playing";
    const bool whole = play.ended && play.ms() >= (play.player == 2 ? wholePictureMs : wholeMediaMs);
    return ScreenLog::playerKind(play.player) + (whole ? QString() : QString(" cut after %1 ms").arg(play.ms()));
}

QStringList describe(const QList<Play> &plays, int count)
{
    QStringList out;
    for (int i = 0; i < qMin(count, plays.size()); ++i)
        out << describe(plays.at(i));
    return out;
}

const QStringList listRound{"video", "picture", "audio"};
}

class TestKodiPlayback : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QString why;
        QVERIFY2(RealMediaCentre::writeMedia(mediaSeconds, &why), qPrintable(why));
        // Entry 2 is a placeholder and entry 4 names a file that is not there: both are skipped.
        DeviceFiles::writeStickConfig("imageinterval=1\nnodmxaction=0\nnodmxmode=3\nnodmxtrack=4\nnodmxvolume=60\n"
                                      "[playlist]\nsize=5\n1\\track=clip.mp4\n2\\track=picture.png\n3\\track=Empty\n"
                                      "4\\track=tone.mp3\n5\\track=missing.mp4\n");
        DeviceFiles::writeFile("/forcefsck", {});
        if (!kodi.start(&why))
            QSKIP(qPrintable(why));
        // Every connection hears every notice, so this one sees what the daemon starts.
        watch = new MediaCentreWatch(this);
        QVERIFY(watch->connectTo(9999));
        QVERIFY2(board.open(), qPrintable(board.errorString()));
        QVERIFY(daemon.start());
        // The reset frame and the channel frame: the daemon has read its configuration and listens.
        QVERIFY2(board.waitForFrames(2, 30000), daemon.output().constData());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && watch)
            qInfo().noquote() << "media centre, last notices:" << watch->texts(qMax(0, watch->events().size() - 30)).join(", ");
    }

    void playModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("track");
        QTest::addColumn<QStringList>("played");
        QTest::addColumn<bool>("endsThere");
        QTest::newRow("single") << 0 << 3 << QStringList{"audio"} << true;
        QTest::newRow("loop single") << 1 << 0 << QStringList{"video", "video", "video"} << false;
        // After the list's end a play alone finds no entry: the desk selects the first one again.
        QTest::newRow("playlist") << 2 << 0 << listRound << true;
        QTest::newRow("playlist, played again") << 2 << 0 << listRound << true;
        QTest::newRow("loop playlist, three rounds") << 3 << 0 << listRound + listRound + listRound << false;
    }

    void playModes()
    {
        QFETCH(int, mode);
        QFETCH(int, track);
        QFETCH(QStringList, played);
        QFETCH(bool, endsThere);
        const int from = start(mode, track);
        QCOMPARE(describe(waitForPlays(from, played.size()), played.size()), played);
        if (endsThere) {
            QTest::qWait(2500);
            QVERIFY2(playsIn(watch->events(), from).size() == played.size(), "playback went on after its end");
        }
    }

    void shufflePlaysWholeEntries()
    {
        const int from = start(4, 0);
        QStringList played = describe(waitForPlays(from, 6), 6);
        QCOMPARE(played.size(), 6);
        for (const QString &play : played)
            QVERIFY2(listRound.contains(play), qPrintable(played.join(", ")));
    }

    void pauseAndResume_data()
    {
        QTest::addColumn<int>("track");
        QTest::addColumn<QStringList>("played");
        QTest::newRow("video") << 0 << QStringList{"video"};
        QTest::newRow("audio") << 3 << QStringList{"audio"};
        // Play after a paused picture shows it again for its whole interval; the list then goes on.
        QTest::newRow("picture") << 1 << QStringList{"picture", "picture", "audio"};
    }

    void pauseAndResume()
    {
        QFETCH(int, track);
        QFETCH(QStringList, played);
        const int from = start(2, track);
        QVERIFY(watch->waitFor("OnPlay " + QString::number(track == 0 ? 1 : track == 3 ? 0 : 2), from, 20000));
        order(CMD_PAUSE);
        QVERIFY2(quietFor(2500, "OnStop"), qPrintable(watch->texts(from).join(", ")));
        order(CMD_PLAY);
        const QList<Play> plays = waitForPlays(from, played.size());
        QCOMPARE(describe(plays, 9), played);
        // The paused time comes on top of the entry's own.
        QVERIFY2(plays.first().ms() >= (track == 1 ? 2500 : 3000), qPrintable(QString::number(plays.first().ms())));
    }

    void trackChange_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("replaced");
        QTest::addColumn<QString>("next");
        QTest::newRow("while a picture shows") << 1 << 0 << "picture" << "video";
        QTest::newRow("while a video plays") << 0 << 3 << "video" << "audio";
    }

    void trackChange()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        const int first = start(0, from);
        QVERIFY(watch->waitFor(from == 1 ? "OnPlay 2" : "OnPlay 1", first, 20000));
        order(CMD_MOVIE_NBR, to);
        const QList<Play> plays = waitForPlays(first, 2);
        QCOMPARE(plays.size(), 2);
        QTEST(ScreenLog::playerKind(plays.at(0).player), "replaced");
        QTEST(describe(plays.at(1)), "next");
    }

    void stopAndVolume()
    {
        const int from = start(3, 0);
        QVERIFY(watch->waitFor("OnPlay 1", from, 20000));
        order(CMD_STOP);
        QVERIFY(watch->waitFor("OnStop stop", from, 10000));
        QVERIFY2(quietFor(2500, "OnPlay"), "playback went on after stop");
        // 32 of 63 is half the volume.
        order(CMD_VOLUME_LEFT, 32);
        QVERIFY(watch->waitFor("Volume 50", from, 10000));
    }

    void signalLossPlaysTheStandbyLoopUntilItReturns()
    {
        settle();
        const int from = watch->events().size();
        order(CMD_NO_SIGNAL, 0);
        QVERIFY(watch->waitFor("Volume 60", from, 10000));
        // The stand-by entry is the tone; the loop then runs through the whole list twice.
        QCOMPARE(describe(waitForPlays(from, 6), 6), QStringList({"audio", "video", "picture", "audio", "video", "picture"}));
        const int back = watch->events().size();
        order(CMD_NO_SIGNAL, 1);
        QVERIFY(QTest::qWaitFor([&] { return watch->texts(back).join(' ').contains("OnStop"); }, 10000));
        QVERIFY2(quietFor(2500, "OnPlay"), qPrintable("the stand-by loop went on after the signal returned: "
                                                      + watch->texts(back).join(", ")));
    }

    void mediaCentreRestartedDuringPlayback()
    {
        const int from = start(3, 0);
        QVERIFY(watch->waitFor("OnPlay 1", from, 20000));
        kodi.stop();
        delete watch;
        QString why;
        QVERIFY2(kodi.start(&why), qPrintable(why));
        watch = new MediaCentreWatch(this);
        QVERIFY(watch->connectTo(9999));
        // The box was playing: once the link is back it starts its entry again and the loop goes on.
        QStringList played = describe(waitForPlays(0, 4), 4);
        QCOMPARE(played.size(), 4);
        const QStringList cycle = listRound + listRound + listRound;
        QVERIFY2(cycle.join(',').contains(played.join(',')), qPrintable(played.join(", ")));
    }

    // A file the media centre accepts but cannot decode: the box passes it over in the loop, round
    // after round, and on a loop of it alone gives up instead of opening it again and again.
    void undecodableEntryIsPassedOver()
    {
        restartDaemonWith("clip.mp4,broken.mp4,tone.mp3");
        const int from = start(3, 0);
        const QStringList round{"video", "video never started", "audio"};
        QCOMPARE(describe(waitForPlays(from, 9, 120000), 9), round + round + round);

        const int single = start(1, 1);
        QTest::qWait(30000);
        const QStringList seen = watch->texts(single);
        const int opened = seen.filter(QRegularExpression("^OnPlay ")).size();
        qInfo("loop single on an undecodable file: %d items reported playing in 30 s", opened);
        QVERIFY2(opened == 1, qPrintable(seen.join(", ")));
        QVERIFY2(seen.filter("OnAVStart").isEmpty(), qPrintable(seen.join(", ")));
    }

private:
    void order(uint8_t command, uint16_t value = 0) { board.sendOrder(command, value); }

    // The daemon reads its playlist at start: a new one needs a new start.
    void restartDaemonWith(const QString &playlist)
    {
        settle();
        daemon.stop();
        QByteArray ini = "imageinterval=1\n[playlist]\nsize=" + QByteArray::number(playlist.count(',') + 1) + "\n";
        for (int i = 0; i <= playlist.count(','); ++i)
            ini += QByteArray::number(i + 1) + "\\track=" + playlist.section(',', i, i).toUtf8() + "\n";
        DeviceFiles::writeStickConfig(ini);
        board.clear();
        QVERIFY(daemon.start());
        QVERIFY2(board.waitForFrames(2, 30000), daemon.output().constData());
    }

    // Stops the box and waits for the media centre to fall quiet; later checks read from here.
    void settle()
    {
        order(CMD_STOP);
        for (int seen = -1, tries = 0; seen != watch->events().size() && tries < 15; ++tries) {
            seen = watch->events().size();
            QTest::qWait(1000);
        }
    }

    // Starts `track` in `mode` and returns the index of the first event it brought.
    int start(int mode, int track)
    {
        settle();
        const int from = watch->events().size();
        order(CMD_MOVIE_NBR, track);
        order(CMD_MODE, mode);
        order(CMD_PLAY);
        return from;
    }

    QList<Play> waitForPlays(int from, int ended, int timeoutMs = 60000)
    {
        // The caller compares what arrived, so a timeout shows as the plays that did.
        (void)QTest::qWaitFor([&] {
            const QList<Play> plays = playsIn(watch->events(), from);
            return std::count_if(plays.begin(), plays.end(), [](const Play &p) { return p.endMs >= 0; }) >= ended;
        }, timeoutMs);
        return playsIn(watch->events(), from);
    }

    bool quietFor(int ms, const QString &what)
    {
        const int from = watch->events().size();
        QTest::qWait(ms);
        return !watch->texts(from).join(' ').contains(what);
    }

    RealMediaCentre kodi;
    MediaCentreWatch *watch = nullptr;
    BoardPort board;
    DaemonProcess daemon;
};

QUORVANT_TEST_MAIN(TestKodiPlayback)
#include "tst_kodiplayback.moc"
