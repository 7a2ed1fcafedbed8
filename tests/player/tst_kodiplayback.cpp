// The real daemon against the real media centre (Debian's kodi, headless under Xvfb with a null
// PulseAudio sink): a loop playlist of a video, a picture and an audio clip plays through by itself.
#include "link/dmxorder.h"
#include "player/jsonstreamsplitter.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

class TestKodiPlayback : public QObject
{
    Q_OBJECT
private slots:
    void loopPlaylistOfVideoPictureAndAudioPlaysThroughInOrder();
    void cleanupTestCase()
    {
        for (QProcess *process : {&m_kodi, &m_sound, &m_display}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

private:
    QString startKodi();
    QProcess m_display, m_sound, m_kodi;
    QTcpSocket m_watch;
};

namespace {
const QString home = "/tmp/kodi-home/.kodi/userdata/";
const QString pulseSocket = "/tmp/pulse.sock";

bool ffmpeg(const QString &arguments)
{
    QProcess process;
    process.start("ffmpeg", ("-v error -f lavfi -i " + arguments).split(' '));
    return process.waitForFinished(60000) && process.exitCode() == 0;
}
}

// Returns why the media centre could not be started, or nothing once its port answers.
QString TestKodiPlayback::startKodi()
{
    QString binary; // Debian keeps it under /usr/lib/<architecture triplet>/kodi
    for (const QString &dir : QDir("/usr/lib").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        binary = QFile::exists("/usr/lib/" + dir + "/kodi/kodi.bin") ? "/usr/lib/" + dir + "/kodi/kodi.bin" : binary;
    if (binary.isEmpty() || QStandardPaths::findExecutable("Xvfb").isEmpty() || QStandardPaths::findExecutable("pulseaudio").isEmpty())
        return "kodi, Xvfb or pulseaudio is not installed (scripts/setup installs them)";
    DeviceFiles::writeFile(home + "advancedsettings.xml", "<advancedsettings><jsonrpc><compactoutput>true</compactoutput><tcpport>9999</tcpport></jsonrpc></advancedsettings>\n");
    // Only the JSON-RPC service on loopback; nothing that looks for the network or add-on updates.
    DeviceFiles::writeFile(home + "guisettings.xml", "<settings version=\"2\"><setting id=\"services.esenabled\">true</setting>"
        "<setting id=\"services.esallinterfaces\">false</setting><setting id=\"services.wsdiscovery\">false</setting>"
        "<setting id=\"services.zeroconf\">false</setting><setting id=\"general.addonupdates\">2</setting></settings>\n");
    m_display.start("Xvfb", {":99", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    // Without an audio output every item stalls for seconds and never reaches its end.
    m_sound.start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes", "-L", "module-null-sink",
                                 "-L", "module-native-protocol-unix socket=" + pulseSocket + " auth-anonymous=1"});
    if (!QTest::qWaitFor([] { return QFile::exists(pulseSocket) && QFile::exists("/tmp/.X11-unix/X99"); }, 10000))
        return "no display or sound server: " + m_display.readAllStandardError().right(300) + m_sound.readAllStandardError().right(300);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", "/tmp/kodi-home");
    env.insert("DISPLAY", ":99");
    env.insert("PULSE_SERVER", "unix:" + pulseSocket);
    env.insert("LIBGL_ALWAYS_SOFTWARE", "1");
    env.insert("LP_NUM_THREADS", "1");
    m_kodi.setProcessEnvironment(env);
    m_kodi.setProcessChannelMode(QProcess::MergedChannels);
    m_kodi.start(binary, {"--windowing=x11", "--standalone"});
    const bool listening = QTest::qWaitFor([this] {
        m_watch.abort();
        m_watch.connectToHost(QHostAddress::LocalHost, 9999);
        return m_watch.waitForConnected(200) || m_kodi.state() == QProcess::NotRunning;
    }, 30000);
    if (!listening || m_watch.state() != QAbstractSocket::ConnectedState)
        return "no JSON-RPC port within 30 s; kodi said: " + m_kodi.readAll().right(400);
    return QString();
}

void TestKodiPlayback::loopPlaylistOfVideoPictureAndAudioPlaysThroughInOrder()
{
    const QString why = startKodi();
    if (!why.isEmpty())
        QSKIP(qPrintable("the media centre cannot start here: " + why));
    // Every connection hears every notification, so this one sees what the daemon starts.
    QList<int> startedIds;
    QList<qint64> startedAtMs;
    QElapsedTimer clock;
    clock.start();
    JsonStreamSplitter splitter;
    connect(&m_watch, &QTcpSocket::readyRead, this, [&] {
        for (const QByteArray &message : splitter.feed(m_watch.readAll())) {
            const QJsonObject json = QJsonDocument::fromJson(message).object();
            if (json["method"] == "Player.OnPlay") {
                startedIds << json["params"]["data"]["player"]["playerid"].toInt(-1);
                startedAtMs << clock.elapsed();
            }
        }
    });
    const QString stick = Box::stickPath() + "/";
    QVERIFY(ffmpeg("testsrc=duration=3:size=320x240:rate=25 -f lavfi -i sine=duration=3 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest " + stick + "clip.mp4"));
    QVERIFY(ffmpeg("testsrc=size=320x240 -frames:v 1 " + stick + "picture.png"));
    QVERIFY(ffmpeg("sine=duration=3 " + stick + "tone.mp3"));
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
    // The picture stays for its two seconds; the audio follows about 100 ms later.
    const qint64 pictureShown = startedAtMs.at(2) - startedAtMs.at(1);
    QVERIFY2(pictureShown >= 1900 && pictureShown <= 4500, qPrintable(QString::number(pictureShown)));
    QVERIFY(daemon.isRunning());
}

QUORVANT_TEST_MAIN(TestKodiPlayback)
#include "tst_kodiplayback.moc"
