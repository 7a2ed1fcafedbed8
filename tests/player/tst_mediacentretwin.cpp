// One script of requests against the real media centre and against the stand-in: the playback
// notices each sends back (method, player, end flag, order) must be the same.
#include "wire/mediacentrerequests.h"
#include "tests/support/realmediacentre.h"
#include "tests/support/testmain.h"

namespace {
// Long enough that a picture opened over the audio shows before the audio ends, even on a busy machine.
constexpr int mediaSeconds = 2;
// Each step: a request, then the notice that completes it (waited for; what follows within a short
// settle time belongs to the step too). A step marked "any order" is compared as a set: the media
// centre sends its notices in either order there.
const QStringList script{
    "pause 1 => error -32100", // nothing playing
    "stop 1 => -",             // nothing playing: only "OK"
    "open missing.mp4 => error -32602",
    "open clip.mp4 => OnStop end", // to its end
    "open clip.mp4 => OnPlay 1",
    "pause 1 => OnPause 1",
    "resume 1 => OnResume 1",
    "stop 1 => OnStop stop",
    "open picture.png => OnPlay 2", // the first picture
    "stop 2 => OnStop 2 end",
    "open tone.mp3 => OnStop end",
    "open tone.mp3 => OnPlay 0",
    "open picture.png => OnStop end", // over the audio, which plays on to its end
    // "play": a stop of the player last reported, then the open, as the player sends them.
    "play clip.mp4 2 => OnStop end",
    "play picture.png 1 => OnPlay 2", // after an earlier picture
    "play tone.mp3 2 => OnPlay 0",
    "play clip.mp4 0 => OnPlay 1",
    "play clip.mp4 1 => OnPlay 1",
    "play picture.png 1 => OnPlay 2",
    "play tone.mp3 2 => OnPlay 0",
    "open clip.mp4 => OnPlay 1", // video replaces audio without a stop
    "started => -",
    "active => -",
    "stop 1 => OnStop stop",
    // A file it cannot decode is reported stopped and playing, and is gone at once.
    "open broken.mp4 => OnPlay 1 any order",
    "started => -",
    "active => -",
    "open tone.mp3 => OnPlay 0", // after it, a file that plays starts as usual
    "started => -",
    "stop 0 => OnStop stop",
    "resume 1 => error -32100",
};

QString request(const QString &word, const QString &arg)
{
    return word == "open" ? MediaCentreRequests::open(Box::stickPath() + '/' + arg)
        : word == "stop" ? MediaCentreRequests::stop(arg.toInt())
        : word == "play" ? MediaCentreRequests::stop(arg.section(' ', 1).toInt()) + MediaCentreRequests::open(Box::stickPath() + '/' + arg.section(' ', 0, 0))
        : word == "pause" ? MediaCentreRequests::pause(arg.toInt())
        : MediaCentreRequests::resume(arg.toInt());
}

// Runs the script and returns every step's notices, one line per step.
QStringList run(quint16 port)
{
    MediaCentreWatch watch;
    if (!watch.connectTo(port))
        return {"no connection"};
    QStringList steps;
    int opened = 0;
    for (const QString &step : script) {
        const QString call = step.section(" => ", 0, 0);
        const bool anyOrder = step.endsWith(" any order");
        const QString until = step.section(" => ", 1).remove(" any order");
        const int from = watch.events().size();
        if (call == "started") {
            // Whether sound or picture of the last opened item started (it comes 0.1-2 s after).
            steps << call + ": " + (watch.waitFor(QString("OnAVStart"), opened, 5000, true) ? "yes" : "no");
            continue;
        }
        if (call.startsWith("open"))
            opened = from;
        watch.write(call == "active" ? MediaCentreRequests::activePlayers(1) : request(call.section(' ', 0, 0), call.section(' ', 1)));
        const bool done = until == "-" || watch.waitFor(until, from, 20000);
        QTest::qWait(600);
        // When exactly the start comes varies; "started" asks for it.
        QStringList notices = watch.texts(from).filter(QRegularExpression("^(?!OnAVStart)"));
        if (anyOrder)
            notices.sort();
        steps << call + ": " + notices.join(", ") + (done ? "" : " (no " + until + ")");
    }
    return steps;
}
}

class TestMediaCentreTwin : public QObject
{
    Q_OBJECT
private slots:
    void standInSendsWhatTheMediaCentreSends()
    {
        QString why;
        QVERIFY2(RealMediaCentre::writeMedia(mediaSeconds, &why), qPrintable(why));
        QStringList standIn;
        {
            FakeMediaCentre centre;
            centre.setSimulatePlayback(true);
            centre.setAutoEndMs(mediaSeconds * 1000);
            QVERIFY(centre.listen(9998));
            standIn = run(9998);
        }
        RealMediaCentre kodi;
        if (!kodi.start(&why))
            QSKIP(qPrintable(why));
        const QStringList real = run(9999);
        qInfo().noquote() << "media centre:\n " << real.join("\n  ");
        for (int i = 0; i < real.size(); ++i)
            QVERIFY2(standIn.value(i) == real.at(i), qPrintable(QString("stand-in %1\n   media centre %2").arg(standIn.value(i), real.at(i))));
    }
};

QUORVANT_TEST_MAIN(TestMediaCentreTwin)
#include "tst_mediacentretwin.moc"
