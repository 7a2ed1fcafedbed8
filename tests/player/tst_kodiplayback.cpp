// The real daemon against the real media centre (Debian's kodi, run headless by scripts/kodi-headless):
// a loop playlist of a video, a picture and an audio clip plays through by itself.
#include "link/dmxorder.h"
#include "player/jsonstreamsplitter.h"
#include "tests/support/testmain.h"
#include "tools/standins/boardport.h"
#include "tools/standins/daemonprocess.h"
#include "tools/standins/devicefiles.h"

#include <QJsonDocument>
#include <QTcpSocket>
#include <QtTest>

class TestKodiPlayback : public QObject
{
    Q_OBJECT
private slots:
    void loopPlaylistOfVideoPictureAndAudioPlaysThroughInOrder();
};

void TestKodiPlayback::loopPlaylistOfVideoPictureAndAudioPlaysThroughInOrder()
{
    QProcess kodi;
    kodi.start(QUORVANT_SOURCE_DIR "/scripts/kodi-headless", {"run", "/tmp/kodi-home"});
    // The script stops the media centre, its display and its sound server.
    const auto stopKodi = qScopeGuard([&kodi] { kodi.terminate(); kodi.waitForFinished(10000); });
    const bool answered = QTest::qWaitFor([&kodi] { return kodi.canReadLine() || kodi.state() == QProcess::NotRunning; }, 90000);
    if (!answered || !kodi.readLine().startsWith("ready"))
        QSKIP(qPrintable("the media centre cannot start here: " + kodi.readAllStandardError()));
    // Every connection hears every notification, so this one sees what the daemon starts.
    QTcpSocket watch;
    watch.connectToHost(QHostAddress::LocalHost, 9999);
    QVERIFY(watch.waitForConnected(5000));
    QList<int> startedIds;
    JsonStreamSplitter splitter;
    connect(&watch, &QTcpSocket::readyRead, this, [&] {
        for (const QByteArray &message : splitter.feed(watch.readAll()))
            if (message.contains("\"Player.OnPlay\""))
                startedIds << QJsonDocument::fromJson(message)["params"]["data"]["player"]["playerid"].toInt(-1);
    });
    // Three seconds of video with sound, one frame of it as a picture, three seconds of a tone.
    QVERIFY(QDir::setCurrent(Box::stickPath()));
    QCOMPARE(QProcess::execute("ffmpeg", QString("-v error -f lavfi -i testsrc=duration=3:size=320x240:rate=25 -f lavfi -i sine=duration=3 "
        "-map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest clip.mp4 -map 0 -frames:v 1 picture.png -map 1 tone.mp3").split(' ')), 0);
    DeviceFiles::writeStickConfig("imageinterval=2\n[playlist]\nsize=3\n1\\track=clip.mp4\n2\\track=picture.png\n3\\track=tone.mp3\n");
    DeviceFiles::writeFile("/forcefsck", {});

    BoardPort board;
    QVERIFY2(board.open(), qPrintable(board.errorString()));
    DaemonProcess daemon;
    QVERIFY(daemon.start());
    // The reset frame and the channel frame: the daemon has read its configuration and listens.
    QVERIFY2(board.waitForFrames(2, 20000), daemon.output().constData());
    board.sendOrder(CMD_MODE, 3);
    board.sendOrder(CMD_PLAY);
    // Video (player 1), picture (2), audio (0), then the list starts again with the video.
    QTRY_VERIFY2_WITH_TIMEOUT(startedIds.size() >= 4, daemon.output().constData(), 40000);
    QCOMPARE(startedIds.mid(0, 4), (QList<int>{1, 2, 0, 1}));
}

QUORVANT_TEST_MAIN(TestKodiPlayback)
#include "tst_kodiplayback.moc"
