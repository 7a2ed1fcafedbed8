// The real daemon in the box with the test as the DMX board and as the media centre: the board
// link start-up, commands from the board end to end, signal loss and bad frames.

#include "link/dmxorder.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"
#include "tests/support/fakemediacentre.h"

#include <QProcess>
#include <QtTest>

using Frames = QList<QByteArray>;

namespace {

const QByteArray resetFrame = QByteArray::fromHex("FF 0C 0000 FE");
const QByteArray channel200Frame = QByteArray::fromHex("FF 0D C700 FE");
// Always acknowledged and ignored by the player: once its echo is back, every frame sent before
// it has been handled by the daemon.
const QByteArray sentinel = QByteArray::fromHex("FF 0B 5AA5 FE");

const QByteArray standardSettings = "channel=200\nnodmxaction=0\nnodmxtrack=3\nnodmxvolume=20\n";

QByteArray frame(uint8_t command, uint16_t value = 0)
{
    return DmxOrder(command, value).toBytes();
}

} // namespace

class TestDmxLink : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void linkComesUpInThreeSteps();
    void playFromBoardStartsFirstEntry();
    void commandsPassTheCoalescing_data();
    void commandsPassTheCoalescing();
    void boardThatReportedItsAddressGetsNoChannelFrame();
    void mediaCentreReconnectionRepeatsNothing();
    void signalLossRunsStandbyAction_data();
    void signalLossRunsStandbyAction();
    void badFrames_data();
    void badFrames();
    void noSerialDevice();

private:
    void startDaemon(const QByteArray &settings = standardSettings);
    void startLinkReady(const QByteArray &settings = standardSettings);
    Frames echoesUpToSentinel();
    QStringList transport() const;
    QStringList channelNotices() const;

    FakeMediaCentre *m_centre = nullptr;
    BoardPort *m_board = nullptr;
    DaemonProcess *m_daemon = nullptr;
    QList<qint64> m_connectedAtMs;
    QList<qint64> m_frameAtMs;
};

void TestDmxLink::initTestCase()
{
    // The first start would otherwise ask for a file-system check and a reboot.
    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), QByteArray());
}

void TestDmxLink::init()
{
    m_connectedAtMs.clear();
    m_frameAtMs.clear();
    m_centre = new FakeMediaCentre(this);
    QVERIFY(m_centre->listen());
    connect(m_centre, &FakeMediaCentre::clientConnected, this,
            [this] { m_connectedAtMs << m_centre->elapsedMs(); });
    m_board = new BoardPort(this);
    QVERIFY2(m_board->open(), qPrintable(m_board->errorString()));
    connect(m_board, &BoardPort::frameReceived, this, [this] { m_frameAtMs << m_centre->elapsedMs(); });
    m_daemon = new DaemonProcess;
}

void TestDmxLink::cleanup()
{
    delete m_daemon;
    delete m_board;
    delete m_centre;
    m_daemon = nullptr;
    m_board = nullptr;
    m_centre = nullptr;
}

void TestDmxLink::startDaemon(const QByteArray &settings)
{
    DeviceFiles::clearStick();
    for (const char *name : {"a.mp4", "b.mp3", "c.png"})
        DeviceFiles::writeStickFile(QString::fromLatin1(name), "media");
    DeviceFiles::writeStickConfig(settings + "[playlist]\nsize=3\n1\\track=a.mp4\n2\\track=b.mp3\n3\\track=c.png\n");
    QVERIFY(m_daemon->start());
    QTRY_COMPARE_WITH_TIMEOUT(m_connectedAtMs.size(), 1, 10000);
}

void TestDmxLink::startLinkReady(const QByteArray &settings)
{
    startDaemon(settings);
    QVERIFY(m_board->waitForFrames(2, 15000));
    QCOMPARE(m_board->frames(), (Frames{resetFrame, channel200Frame}));
    m_board->clear();
    m_centre->clearRequests();
}

Frames TestDmxLink::echoesUpToSentinel()
{
    m_board->send(sentinel);
    QDeadlineTimer deadline(5000);
    while (!m_board->frames().contains(sentinel) && !deadline.hasExpired())
        QTest::qWait(10);
    Frames frames = m_board->frames();
    if (frames.removeAll(sentinel) == 0)
        frames << "sentinel never acknowledged";
    return frames;
}

QStringList TestDmxLink::transport() const
{
    QStringList lines;
    for (const FakeMediaCentre::Request &request : m_centre->transportRequests()) {
        const QString method = request.method();
        const QJsonObject params = request.params();
        if (method == QLatin1String("Player.Open"))
            lines << "Open " + params.value("item").toObject().value("file").toString();
        else if (method == QLatin1String("Player.Stop"))
            lines << QStringLiteral("Stop");
        else if (method == QLatin1String("Player.PlayPause"))
            lines << (params.value("play").toBool() ? "Resume" : "Pause");
        else if (method == QLatin1String("Application.SetVolume"))
            lines << "Volume " + QString::number(params.value("volume").toInt());
        else
            lines << method;
    }
    return lines;
}

QStringList TestDmxLink::channelNotices() const
{
    QStringList notices;
    for (const FakeMediaCentre::Request &request : m_centre->requests("GUI.ShowNotification")) {
        const QJsonObject params = request.params();
        if (params.value("title").toString() == QLatin1String("Channel"))
            notices << params.value("message").toString() + " / " + QString::number(params.value("displaytime").toInt());
    }
    return notices;
}

void TestDmxLink::linkComesUpInThreeSteps()
{
    startDaemon();
    QVERIFY(m_board->waitForFrames(2, 15000));
    QCOMPARE(m_board->frames(), (Frames{resetFrame, channel200Frame}));

    const qint64 resetDelay = m_frameAtMs.at(0) - m_connectedAtMs.first();
    const qint64 channelDelay = m_frameAtMs.at(1) - m_frameAtMs.at(0);
    QVERIFY2(resetDelay >= 1900 && resetDelay < 4000, qPrintable(QString::number(resetDelay)));
    QVERIFY2(channelDelay >= 2900 && channelDelay < 5000, qPrintable(QString::number(channelDelay)));
    QTRY_COMPARE_WITH_TIMEOUT(channelNotices(), QStringList{"Set channel to 200 / 3000"}, 5000);
}

void TestDmxLink::playFromBoardStartsFirstEntry()
{
    startLinkReady();
    m_board->send(frame(CMD_PLAY));
    QCOMPARE(echoesUpToSentinel(), Frames{frame(CMD_PLAY)});
    QTRY_COMPARE_WITH_TIMEOUT(transport(), (QStringList{"Stop", "Open /media/ZR605/a.mp4"}), 5000);
}

void TestDmxLink::commandsPassTheCoalescing_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<bool>("trackEnds");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("burst of tracks changes once to the last")
        << Frames{frame(CMD_MOVIE_NBR, 1), frame(CMD_MOVIE_NBR, 2)} << false
        << QStringList{"Stop", "Open /media/ZR605/c.png"};
    QTest::newRow("burst of volumes sends the last, scaled")
        << Frames{frame(CMD_VOLUME_LEFT, 10), frame(CMD_VOLUME_LEFT, 32), frame(CMD_VOLUME_LEFT, 63)} << false
        << QStringList{"Volume 100"};
    QTest::newRow("loop-single mode replays the entry at its end")
        << Frames{frame(CMD_MODE, 1)} << true
        << QStringList{"Stop", "Open /media/ZR605/a.mp4"};
    QTest::newRow("single mode stops at the end")
        << Frames{frame(CMD_MODE, 0)} << true << QStringList{};
}

void TestDmxLink::commandsPassTheCoalescing()
{
    QFETCH(Frames, frames);
    QFETCH(bool, trackEnds);
    QFETCH(QStringList, expected);

    startLinkReady();
    m_board->send(frame(CMD_PLAY));
    QTRY_COMPARE_WITH_TIMEOUT(transport().size(), 2, 5000);
    m_centre->clearRequests();
    m_board->clear();

    for (const QByteArray &bytes : frames)
        m_board->send(bytes);
    QCOMPARE(echoesUpToSentinel(), frames);
    if (trackEnds)
        m_centre->push(FakeMediaCentre::onStop(true));
    QTest::qWait(1200);
    QCOMPARE(transport(), expected);
}

void TestDmxLink::boardThatReportedItsAddressGetsNoChannelFrame()
{
    startDaemon();
    QVERIFY(m_board->waitForFrames(1, 10000));
    m_board->send(frame(CMD_DMX_ADDR, 199));
    QTest::qWait(4500);
    QCOMPARE(m_board->frames(), Frames{resetFrame});
    QCOMPARE(channelNotices(), QStringList());
}

void TestDmxLink::mediaCentreReconnectionRepeatsNothing()
{
    startLinkReady();
    m_centre->dropClients();
    QTRY_COMPARE_WITH_TIMEOUT(m_centre->connectionsAccepted(), 2, 10000);
    // Long enough for a second reset (2000 ms) and a second channel frame (3000 ms later).
    QTest::qWait(6500);
    QCOMPARE(m_board->frames(), Frames());
    QCOMPARE(channelNotices(), QStringList());

    m_board->send(frame(CMD_PLAY));
    QTRY_COMPARE_WITH_TIMEOUT(transport(), (QStringList{"Stop", "Open /media/ZR605/a.mp4"}), 5000);
}

void TestDmxLink::signalLossRunsStandbyAction_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("playFirst");
    QTest::addColumn<QStringList>("afterLoss");
    QTest::addColumn<QStringList>("afterReturn");
    QTest::addColumn<QStringList>("commands");

    QTest::newRow("stand-by entry")
        << standardSettings << false
        << QStringList{"Volume 20", "Stop", "Open /media/ZR605/c.png"} << QStringList{"Stop"} << QStringList{};
    QTest::newRow("stop") << QByteArray("channel=200\nnodmxaction=1\nnodmxvolume=20\n") << true
                          << QStringList{"Stop", "Volume 20"} << QStringList{} << QStringList{};
    QTest::newRow("monitor off")
        << QByteArray("channel=200\nnodmxaction=2\nnodmxvolume=20\n") << false << QStringList{"Volume 20"}
        << QStringList{} << QStringList{"vcgencmd display_power 0", "vcgencmd display_power 1"};
}

void TestDmxLink::signalLossRunsStandbyAction()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, playFirst);
    QFETCH(QStringList, afterLoss);
    QFETCH(QStringList, afterReturn);
    QFETCH(QStringList, commands);

    startLinkReady(settings);
    if (playFirst) {
        m_board->send(frame(CMD_PLAY));
        QTRY_COMPARE_WITH_TIMEOUT(transport().size(), 2, 5000);
        m_centre->clearRequests();
        m_board->clear();
    }
    Box::clearCommandLog();

    m_board->send(frame(CMD_NO_SIGNAL, 0));
    m_board->send(frame(CMD_NO_SIGNAL, 0)); // a repeated report changes nothing
    QTest::qWait(1600);
    QCOMPARE(transport(), afterLoss);

    m_centre->clearRequests();
    m_board->send(frame(CMD_NO_SIGNAL, 1));
    QTest::qWait(800);
    QCOMPARE(transport(), afterReturn);

    QStringList monitor = Box::commandLog().filter(QStringLiteral("vcgencmd"));
    QCOMPARE(monitor, commands);
}

void TestDmxLink::badFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Frames>("echoes");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("wrong start byte") << QByteArray::fromHex("FE 02 0000 FE") << Frames{} << QStringList{};
    QTest::newRow("wrong end byte") << QByteArray::fromHex("FF 02 0000 FF") << Frames{} << QStringList{};
    QTest::newRow("unknown code 14") << frame(CMD_ALL) << Frames{} << QStringList{};
    QTest::newRow("unknown code 0") << QByteArray::fromHex("FF 00 0000 FE") << Frames{} << QStringList{};
    // One stray byte costs only the group it lands in; the frame behind it still plays.
    QTest::newRow("stray byte before a frame")
        << QByteArray::fromHex("00") + frame(CMD_PLAY) << Frames{frame(CMD_PLAY)}
        << QStringList{"Stop", "Open /media/ZR605/a.mp4"};
}

void TestDmxLink::badFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Frames, echoes);
    QFETCH(QStringList, expected);

    startLinkReady();
    m_board->send(bytes);
    QCOMPARE(echoesUpToSentinel(), echoes);
    QTest::qWait(300);
    QCOMPARE(transport(), expected);

    // The link stays in step for the next frame.
    m_centre->clearRequests();
    m_board->send(frame(CMD_STOP));
    QTRY_COMPARE_WITH_TIMEOUT(transport(), QStringList{"Stop"}, 5000);
    QVERIFY(m_daemon->isRunning());
}

// An empty /sys/class/tty is a box without any serial port.
void TestDmxLink::noSerialDevice()
{
    QCOMPARE(QProcess::execute(Box::realProgram("mount"), {"-t", "tmpfs", "notty", "/sys/class/tty"}), 0);
    startDaemon();
    QTest::qWait(6000);
    m_board->send(frame(CMD_PLAY));
    QTest::qWait(500);
    QCOMPARE(m_board->frames(), Frames());
    QCOMPARE(transport(), QStringList());
    QCOMPARE(channelNotices(), QStringList());
    QVERIFY(m_daemon->isRunning());
    QProcess::execute("umount", {"/sys/class/tty"});
}

QUORVANT_TEST_MAIN(TestDmxLink)
#include "tst_dmxlink.moc"
