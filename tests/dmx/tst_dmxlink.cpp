// The real daemon in the box with the test as the DMX board and the media centre: the board link
// start-up, commands end to end, signal loss, a box without serial port.

#include "link/dmxorder.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"
#include "tests/support/fakemediacentre.h"

#include <QProcess>
#include <QtTest>

using Bytes = QList<QByteArray>;

namespace {
const QByteArray resetFrame = QByteArray::fromHex("FF 0C 0000 FE");
const QByteArray channel200Frame = QByteArray::fromHex("FF 0D C700 FE");
// Acknowledged and ignored by the player: its echo marks that every earlier frame was handled.
const QByteArray sentinel = QByteArray::fromHex("FF 0B 5AA5 FE");
const QByteArray standardSettings = "channel=200\nnodmxaction=0\nnodmxtrack=3\nnodmxvolume=20\n";
const QString a = QStringLiteral("Open /media/ZR605/a.mp4");

QByteArray frame(uint8_t command, uint16_t value = 0)
{
    return DmxOrder(command, value).toBytes();
}
} // namespace

class TestDmxLink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linkComesUpInThreeStepsAndPlays();
    void commandsPassTheCoalescing_data();
    void commandsPassTheCoalescing();
    void boardThatReportedItsAddressGetsNoChannelFrame();
    void mediaCentreReconnectionRepeatsNothing();
    void signalLossRunsStandbyAction();
    void noSerialDevice();

private:
    void startDaemon(const QByteArray &settings = standardSettings);
    void startLinkReady();
    void playFirstEntry();
    QStringList transport() const;
    QStringList channelNotices() const;

    FakeMediaCentre *m_centre = nullptr;
    BoardPort *m_board = nullptr;
    DaemonProcess *m_daemon = nullptr;
    QList<qint64> m_connectedAtMs;
    QList<qint64> m_frameAtMs;
};

void TestDmxLink::init()
{
    // Without the marker the daemon would first ask for a file-system check and a reboot.
    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), QByteArray());
    m_connectedAtMs.clear();
    m_frameAtMs.clear();
    m_centre = new FakeMediaCentre(this);
    QVERIFY(m_centre->listen());
    connect(m_centre, &FakeMediaCentre::clientConnected, this, [this] { m_connectedAtMs << m_centre->elapsedMs(); });
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
}

void TestDmxLink::startDaemon(const QByteArray &settings)
{
    DeviceFiles::clearStick();
    for (const char *name : {"a.mp4", "b.mp3", "c.png"})
        DeviceFiles::writeStickFile(QString::fromLatin1(name), "media");
    DeviceFiles::writeStickFile(QStringLiteral("SKINDEFAULT.jpg"), "new background");
    DeviceFiles::writeFile(QStringLiteral("/cfg/background"), "old background, longer than the new one");
    DeviceFiles::writeStickConfig(settings + "[playlist]\nsize=3\n1\\track=a.mp4\n2\\track=b.mp3\n3\\track=c.png\n");
    QVERIFY(m_daemon->start());
    QTRY_COMPARE_WITH_TIMEOUT(m_connectedAtMs.size(), 1, 10000);
}

void TestDmxLink::startLinkReady()
{
    startDaemon();
    QVERIFY(m_board->waitForFrames(2, 15000));
    QCOMPARE(m_board->frames(), (Bytes{resetFrame, channel200Frame}));
    m_board->clear();
    m_centre->clearRequests();
}

void TestDmxLink::playFirstEntry()
{
    m_board->send(frame(CMD_PLAY));
    QCOMPARE(m_board->framesUpToEchoOf(sentinel), Bytes{frame(CMD_PLAY)});
    QTRY_COMPARE_WITH_TIMEOUT(transport(), (QStringList{"Stop", a}), 5000);
    m_centre->clearRequests();
    m_board->clear();
}


QStringList TestDmxLink::transport() const
{
    QStringList lines;
    for (const FakeMediaCentre::Request &request : m_centre->transportRequests()) {
        const QJsonObject params = request.params();
        if (request.method() == QLatin1String("Player.Open"))
            lines << "Open " + params.value("item").toObject().value("file").toString();
        else if (request.method() == QLatin1String("Application.SetVolume"))
            lines << "Volume " + QString::number(params.value("volume").toInt());
        else
            lines << request.method().remove("Player.");
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

void TestDmxLink::linkComesUpInThreeStepsAndPlays()
{
    startDaemon();
    QVERIFY(m_board->waitForFrames(2, 15000));
    QCOMPARE(m_board->frames(), (Bytes{resetFrame, channel200Frame}));
    const qint64 resetDelay = m_frameAtMs.at(0) - m_connectedAtMs.first();
    const qint64 channelDelay = m_frameAtMs.at(1) - m_frameAtMs.at(0);
    // Coarse timers may fire up to 5 % early, and a loaded machine delays the frames' arrival.
    QVERIFY2(resetDelay >= 1700 && resetDelay < 4000, qPrintable(QString::number(resetDelay)));
    QVERIFY2(channelDelay >= 2600 && channelDelay < 5000, qPrintable(QString::number(channelDelay)));
    QTRY_COMPARE_WITH_TIMEOUT(channelNotices(), QStringList{"Set channel to 200 / 3000"}, 5000);
    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/background")), QByteArray("new background"));

    m_board->clear();
    m_centre->clearRequests();
    m_board->send(frame(CMD_PLAY));
    QCOMPARE(m_board->framesUpToEchoOf(sentinel), Bytes{frame(CMD_PLAY)});
    QTRY_COMPARE_WITH_TIMEOUT(transport(), (QStringList{"Stop", a}), 5000);
}

void TestDmxLink::commandsPassTheCoalescing_data()
{
    QTest::addColumn<Bytes>("frames");
    QTest::addColumn<bool>("trackEnds");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("burst of tracks changes once, to the last")
        << Bytes{frame(CMD_MOVIE_NBR, 1), frame(CMD_MOVIE_NBR, 2)} << false
        << QStringList{"Stop", "Open /media/ZR605/c.png"};
    QTest::newRow("burst of volumes sends the last, scaled")
        << Bytes{frame(CMD_VOLUME_LEFT, 10), frame(CMD_VOLUME_LEFT, 32), frame(CMD_VOLUME_LEFT, 63)} << false
        << QStringList{"Volume 100"};
    QTest::newRow("loop-single mode replays the entry at its end")
        << Bytes{frame(CMD_MODE, 1)} << true << QStringList{"Stop", a};
}

void TestDmxLink::commandsPassTheCoalescing()
{
    QFETCH(Bytes, frames);
    QFETCH(bool, trackEnds);
    QFETCH(QStringList, expected);

    startLinkReady();
    playFirstEntry();
    for (const QByteArray &bytes : frames)
        m_board->send(bytes);
    QCOMPARE(m_board->framesUpToEchoOf(sentinel), frames);
    if (trackEnds)
        m_centre->push(FakeMediaCentre::onStop(true));
    QTRY_COMPARE_WITH_TIMEOUT(transport(), expected, 5000);
    QTest::qWait(700); // nothing more follows the coalesced request
    QCOMPARE(transport(), expected);
}

void TestDmxLink::boardThatReportedItsAddressGetsNoChannelFrame()
{
    startDaemon();
    QVERIFY(m_board->waitForFrames(1, 10000));
    m_board->send(frame(CMD_DMX_ADDR, 199));
    QTest::qWait(4500);
    QCOMPARE(m_board->frames(), Bytes{resetFrame});
    QCOMPARE(channelNotices(), QStringList());
}

void TestDmxLink::mediaCentreReconnectionRepeatsNothing()
{
    startLinkReady();
    m_centre->dropClients();
    QTRY_COMPARE_WITH_TIMEOUT(m_centre->connectionsAccepted(), 2, 10000);
    // Long enough for a second reset (2000 ms) and a second channel frame (3000 ms later).
    QTest::qWait(6500);
    QCOMPARE(m_board->frames(), Bytes());
    QCOMPARE(channelNotices(), QStringList());
    playFirstEntry();
}

// Stand-by volume at once, the stand-by entry (nodmxtrack 3) a second later; Stop on return.
void TestDmxLink::signalLossRunsStandbyAction()
{
    startLinkReady();
    m_board->send(frame(CMD_NO_SIGNAL, 0));
    m_board->send(frame(CMD_NO_SIGNAL, 0)); // a repeated report changes nothing
    QTRY_COMPARE_WITH_TIMEOUT(transport(), (QStringList{"Volume 20", "Stop", "Open /media/ZR605/c.png"}), 5000);
    m_centre->clearRequests();
    m_board->send(frame(CMD_NO_SIGNAL, 1));
    QTRY_COMPARE_WITH_TIMEOUT(transport(), QStringList{"Stop"}, 5000);
}


// An empty /sys/class/tty is a box without any serial port.
void TestDmxLink::noSerialDevice()
{
    QCOMPARE(QProcess::execute(Box::realProgram("mount"), {"-t", "tmpfs", "notty", "/sys/class/tty"}), 0);
    startDaemon();
    QTest::qWait(6000);
    m_board->send(frame(CMD_PLAY));
    QTest::qWait(500);
    QProcess::execute("umount", {"/sys/class/tty"});
    QCOMPARE(m_board->frames(), Bytes());
    QCOMPARE(transport(), QStringList());
    QCOMPARE(channelNotices(), QStringList());
    QVERIFY(m_daemon->isRunning());
}

QUORVANT_TEST_MAIN(TestDmxLink)
#include "tst_dmxlink.moc"
