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

static const QByteArray resetFrame = QByteArray::fromHex("FF 0C 0000 FE");
static const QByteArray channel200Frame = QByteArray::fromHex("FF 0D C700 FE");
static const QString openA = QStringLiteral("Open /media/ZR605/a.mp4");
static const QString openC = QStringLiteral("Open /media/ZR605/c.png");
static QByteArray frame(uint8_t command, uint16_t value = 0) { return DmxOrder(command, value).toBytes(); }

class TestDmxLink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linkComesUpInThreeStepsOnce();
    void boardCommandsReachThePlayer_data();
    void boardCommandsReachThePlayer();
    void boardThatReportedItsAddressGetsNoChannelFrame();
    void noSerialDevice();

private:
    void startDaemon();
    void startLinkReady();
    void playFirstEntry();
    QStringList sent() const;

    FakeMediaCentre *m_centre = nullptr;
    BoardPort *m_board = nullptr;
    DaemonProcess m_daemon;
};

void TestDmxLink::init()
{
    // Without the marker the daemon would first ask for a file-system check and a reboot.
    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), QByteArray());
    m_centre = new FakeMediaCentre(this);
    QVERIFY(m_centre->listen());
    m_board = new BoardPort(this);
    QVERIFY2(m_board->open(), qPrintable(m_board->errorString()));
}

void TestDmxLink::cleanup()
{
    m_daemon.stop();
    delete m_board;
    delete m_centre;
}

void TestDmxLink::startDaemon()
{
    for (const char *name : {"a.mp4", "b.mp3", "c.png", "SKINDEFAULT.jpg"})
        DeviceFiles::writeStickFile(QString::fromLatin1(name), "media");
    DeviceFiles::writeFile(QStringLiteral("/cfg/background"), "old background, longer than the new one");
    DeviceFiles::writeStickConfig("channel=200\nnodmxaction=0\nnodmxtrack=3\nnodmxvolume=20\n"
                                  "[playlist]\nsize=3\n1\\track=a.mp4\n2\\track=b.mp3\n3\\track=c.png\n");
    QVERIFY(m_daemon.start());
    QTRY_COMPARE_WITH_TIMEOUT(m_centre->connectionsAccepted(), 1, 10000);
}

// Up: the board has had its reset and channel frames and the channel notice is on screen.
void TestDmxLink::startLinkReady()
{
    startDaemon();
    QTRY_COMPARE_WITH_TIMEOUT(m_board->frames(), (Bytes{resetFrame, channel200Frame}), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(sent().contains("ShowNotification Channel Set channel to 200 3000"), 5000);
    m_board->clear();
    m_centre->clearRequests();
}

void TestDmxLink::playFirstEntry()
{
    m_board->send(frame(CMD_PLAY));
    QCOMPARE(m_board->framesBeforeEcho(), Bytes{frame(CMD_PLAY)});
    QTRY_COMPARE_WITH_TIMEOUT(sent(), (QStringList{"Stop", openA}), 5000);
    m_centre->clearRequests();
    m_board->clear();
}

// Playback requests ("Stop", "Open <file>", "SetVolume <volume>") and channel notices, in order.
QStringList TestDmxLink::sent() const
{
    QStringList lines;
    for (const FakeMediaCentre::Request &request : m_centre->requests()) {
        const QJsonObject params = request.params();
        const QJsonValue title = params.value("title"); // only notifications have one
        if (title.isString() && title != QLatin1String("Channel"))
            continue;
        QString line = request.method().section('.', 1);
        for (const QJsonValue &value : {title, params.value("message"), params.value("displaytime"),
                                        params.value("item")["file"], params.value("volume")})
            line += value.isUndefined() ? QString() : ' ' + value.toVariant().toString();
        lines << line;
    }
    return lines;
}

// A second media-centre connection repeats neither the reset nor the channel frame.
void TestDmxLink::linkComesUpInThreeStepsOnce()
{
    QObject context;
    QList<qint64> at; // the media centre accepting the link, then each frame to the board
    connect(m_centre, &FakeMediaCentre::clientConnected, &context, [&] { at << m_centre->elapsedMs(); });
    connect(m_board, &BoardPort::frameReceived, &context, [&] { at << m_centre->elapsedMs(); });
    startLinkReady();
    QCOMPARE(at.size(), 3);
    // Lower bounds count from the acceptance, so a late relayed reset frame cannot shorten the
    // channel frame's delay; their margins only cover the test seeing the acceptance a little late.
    QVERIFY2(at[1] - at[0] >= 1900 && at[1] - at[0] < 7000, qPrintable(QString::number(at[1] - at[0])));
    QVERIFY2(at[2] - at[0] >= 4900 && at[2] - at[1] < 8000, qPrintable(QString::number(at[2] - at[0])));
    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/background")), QByteArray("media"));

    m_centre->dropClients();
    QTRY_COMPARE_WITH_TIMEOUT(m_centre->connectionsAccepted(), 2, 10000);
    QTest::qWait(6500); // past a second reset (2000 ms) and channel frame (3000 ms later)
    QCOMPARE(m_board->framesBeforeEcho(), Bytes());
    QCOMPARE(sent(), QStringList());
    playFirstEntry();
}

// Each row starts with the first entry playing.
void TestDmxLink::boardCommandsReachThePlayer_data()
{
    QTest::addColumn<Bytes>("frames");
    QTest::addColumn<bool>("trackEnds");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("burst of tracks changes once, to the last")
        << Bytes{frame(CMD_MOVIE_NBR, 1), frame(CMD_MOVIE_NBR, 2)} << false << QStringList{"Stop", openC};
    QTest::newRow("burst of volumes sends the last, scaled")
        << Bytes{frame(CMD_VOLUME_LEFT, 10), frame(CMD_VOLUME_LEFT, 63)} << false
        << QStringList{"SetVolume 100"};
    QTest::newRow("loop-single mode replays the entry at its end")
        << Bytes{frame(CMD_MODE, 1)} << true << QStringList{"Stop", openA};
    // Stand-by volume (nodmxvolume) at once, the stand-by entry (nodmxtrack) a second later.
    QTest::newRow("signal loss, reported twice, runs the stand-by action once")
        << Bytes{frame(CMD_NO_SIGNAL, 0), frame(CMD_NO_SIGNAL, 0)} << false
        << QStringList{"Stop", "SetVolume 20", "Stop", openC};
}

void TestDmxLink::boardCommandsReachThePlayer()
{
    QFETCH(Bytes, frames);
    QFETCH(bool, trackEnds);
    QFETCH(QStringList, expected);
    startLinkReady();
    playFirstEntry();
    for (const QByteArray &bytes : frames)
        m_board->send(bytes);
    QCOMPARE(m_board->framesBeforeEcho(), frames);
    if (trackEnds)
        m_centre->push(FakeMediaCentre::onStop(true));
    QTRY_COMPARE_WITH_TIMEOUT(sent(), expected, 5000);
    QTest::qWait(700); // nothing more follows the coalesced request
    QCOMPARE(sent(), expected);
}

void TestDmxLink::boardThatReportedItsAddressGetsNoChannelFrame()
{
    startDaemon();
    QVERIFY(m_board->waitForFrames(1, 10000));
    m_board->send(frame(CMD_DMX_ADDR, 199));
    QTest::qWait(4500); // past the channel frame's time, 3000 ms after the reset
    QCOMPARE(m_board->framesBeforeEcho(), Bytes{resetFrame});
    QCOMPARE(sent(), QStringList());
}

// An empty /sys/class/tty is a box without any serial port.
void TestDmxLink::noSerialDevice()
{
    QCOMPARE(QProcess::execute(Box::realProgram("mount"), {"-t", "tmpfs", "notty", "/sys/class/tty"}), 0);
    startDaemon();
    QTest::qWait(6500); // past the reset and channel frames' time
    QProcess::execute("umount", {"/sys/class/tty"});
    QCOMPARE(m_board->frames(), Bytes());
    QCOMPARE(sent(), QStringList());
    QVERIFY(m_daemon.isRunning());
}

QUORVANT_TEST_MAIN(TestDmxLink)
#include "tst_dmxlink.moc"
