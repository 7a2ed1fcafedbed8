// The board link in the box, with the test holding the board's end of the serial line: DmxSerialPort
// in-process, then the real daemon with the test as the media centre too (the link start-up,
// commands end to end, signal loss, a box without serial port).

#include "wire/dmxorder.h"
#include "link/dmxserialport.h"
#include "tests/support/testmain.h"

using Bytes = QList<QByteArray>;

static const auto wire = [](const char *text) { return QByteArray::fromHex(text); };
static const QByteArray resetFrame = wire("FF 0C 0000 FE");
static QByteArray frame(uint8_t command, uint16_t value = 0) { return DmxOrder(command, value).toBytes(); }

class TestDmxLink : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        // Without the marker the daemon would first ask for a file-system check and a reboot.
        DeviceFiles::writeFile(QStringLiteral("/forcefsck"), QByteArray());
        m_centre = new FakeMediaCentre(this);
        QVERIFY(m_centre->listen());
        m_board = new BoardPort(this);
        QVERIFY2(m_board->open(), qPrintable(m_board->errorString()));
    }

    void cleanup()
    {
        m_daemon.stop();
        qDeleteAll(std::exchange(m_spies, {}));
        delete std::exchange(m_link, nullptr);
        delete m_board;
        delete m_centre;
    }

    void boardFrames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("emits");
        QTest::addColumn<bool>("acknowledged");

        QTest::newRow("stop") << wire("FF 01 0000 FE") << QString("stop") << true;
        QTest::newRow("play") << wire("FF 02 0000 FE") << QString("play") << true;
        QTest::newRow("pause") << wire("FF 03 0000 FE") << QString("pause") << true;
        QTest::newRow("track little-endian") << wire("FF 04 2A01 FE") << QString("setTrack 298") << true;
        QTest::newRow("mode") << wire("FF 05 0300 FE") << QString("setMode 3") << true;
        QTest::newRow("left volume unclamped") << wire("FF 06 FFFF FE") << QString("setLeftVolume 65535") << true;
        QTest::newRow("right volume") << wire("FF 07 1000 FE") << QString("setRightVolume 16") << true;
        QTest::newRow("bass") << wire("FF 08 0500 FE") << QString("setBass 5") << true;
        QTest::newRow("treble") << wire("FF 09 0600 FE") << QString("setTreble 6") << true;
        QTest::newRow("signal present") << wire("FF 0A 0100 FE") << QString("setDmxSignal true") << true;
        QTest::newRow("signal lost") << wire("FF 0A 0000 FE") << QString("setDmxSignal false") << true;
        QTest::newRow("signal 2 means lost") << wire("FF 0A 0200 FE") << QString("setDmxSignal false") << true;
        QTest::newRow("reset report") << wire("FF 0C 0000 FE") << QString() << true;
        QTest::newRow("address report") << wire("FF 0D 0500 FE") << QString() << false;
        QTest::newRow("CMD_ALL") << wire("FF 0E 0000 FE") << QString() << false;
        QTest::newRow("code 0") << wire("FF 00 0000 FE") << QString() << false;
        QTest::newRow("wrong start byte") << wire("FE 02 0000 FE") << QString() << false;
        QTest::newRow("wrong end byte") << wire("FF 02 0000 FF") << QString() << false;
    }

    void boardFrames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, emits);
        QFETCH(bool, acknowledged);
        m_link = new DmxSerialPort(this);
        const QMetaObject *meta = m_link->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                m_spies << new QSignalSpy(m_link, meta->method(i));
        QVERIFY(m_link->open());
        QCOMPARE(m_board->framesBeforeEcho(), Bytes{resetFrame});
        QCOMPARE(emitted(), QStringList{"communicationInitialized true"});
        m_board->clear();

        m_board->send(bytes);
        QCOMPARE(m_board->framesBeforeEcho(), acknowledged ? Bytes{bytes} : Bytes{});
        QCOMPARE(emitted(), emits.isEmpty() ? QStringList() : QStringList{emits});
        QCOMPARE(m_link->channelSet(), bytes.at(1) == CMD_DMX_ADDR);
    }

    void linkComesUpOnceAndCarriesBoardCommands()
    {
        QObject context;
        QList<qint64> at; // the media centre accepting the link, then each frame to the board
        connect(m_centre, &FakeMediaCentre::clientConnected, &context, [&] { at << m_centre->elapsedMs(); });
        connect(m_board, &BoardPort::frameReceived, &context, [&] { at << m_centre->elapsedMs(); });
        startDaemon();
        QTRY_COMPARE_WITH_TIMEOUT(m_board->frames(), (Bytes{resetFrame, frame(CMD_DMX_ADDR, 199)}), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(sent(), QStringList{"note:Channel|Set channel to 200"}, 5000);
        for (const FakeMediaCentre::Request &notice : m_centre->requests("GUI.ShowNotification"))
            QVERIFY(notice.params()["title"] != "Channel" || notice.params()["displaytime"] == 3000);
        QCOMPARE(at.size(), 3);
        // Lower bounds count from the acceptance, so a late relayed reset frame cannot shorten the
        // channel frame's delay; their margins only cover the test seeing the acceptance a little late.
        QVERIFY2(at[1] - at[0] >= 1900 && at[1] - at[0] < 7000, qPrintable(QString::number(at[1] - at[0])));
        QVERIFY2(at[2] - at[0] >= 4900 && at[2] - at[1] < 8000, qPrintable(QString::number(at[2] - at[0])));
        QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/background")), QByteArray("media"));

        // A second media-centre connection repeats neither the reset nor the channel frame.
        m_board->clear();
        m_centre->clearRequests();
        m_centre->dropClients();
        QTRY_COMPARE_WITH_TIMEOUT(m_centre->connectionsAccepted(), 2, 10000);
        QTest::qWait(6500); // past a second reset (2000 ms) and channel frame (3000 ms later)
        QCOMPARE(m_board->framesBeforeEcho(), Bytes());
        QCOMPARE(sent(), QStringList());

        // Every frame is echoed, and the player gets each command across the hub: bursts coalesced.
        struct Step { Bytes frames; bool trackEnds; QStringList expected; };
        const Step steps[] = {
            {{frame(CMD_PLAY)}, false, {"stop:0", "open:a.mp4"}},
            {{frame(CMD_MODE, 1)}, true, {"stop:1", "open:a.mp4"}}, // loop single replays the entry at its end
            {{frame(CMD_MOVIE_NBR, 1), frame(CMD_MOVIE_NBR, 2)}, false, {"stop:1", "open:c.png"}},
            {{frame(CMD_VOLUME_LEFT, 10), frame(CMD_VOLUME_LEFT, 63)}, false, {"volume:100"}},
            // Reported twice, run once: stand-by volume (nodmxvolume) at once, entry (nodmxtrack) a second later.
            {{frame(CMD_NO_SIGNAL), frame(CMD_NO_SIGNAL)}, false, {"stop:1", "volume:20", "stop:1", "open:c.png"}},
        };
        for (const Step &step : steps) {
            m_centre->clearRequests();
            m_board->clear();
            for (const QByteArray &bytes : step.frames)
                m_board->send(bytes);
            QCOMPARE(m_board->framesBeforeEcho(), step.frames);
            if (step.trackEnds)
                m_centre->push(FakeMediaCentre::onPlay(1) + FakeMediaCentre::onAvStart(1) + FakeMediaCentre::onStop(true));
            QTRY_COMPARE_WITH_TIMEOUT(sent(), step.expected, 5000);
            QTest::qWait(700); // nothing more follows the coalesced request
            QCOMPARE(sent(), step.expected);
        }
    }

    void boardThatReportedItsAddressGetsNoChannelFrame()
    {
        startDaemon();
        QVERIFY(m_board->waitForFrames(1, 10000));
        m_board->send(frame(CMD_DMX_ADDR, 199));
        QTest::qWait(4500); // past the channel frame's time, 3000 ms after the reset
        QCOMPARE(m_board->framesBeforeEcho(), Bytes{resetFrame});
        QCOMPARE(sent(), QStringList());
    }

    // An empty /sys/class/tty is a box without any serial port.
    void noSerialDevice()
    {
        QCOMPARE(QProcess::execute(Box::realProgram("mount"), {"-t", "tmpfs", "notty", "/sys/class/tty"}), 0);
        startDaemon();
        QTest::qWait(6500); // past the reset and channel frames' time
        QProcess::execute("umount", {"/sys/class/tty"});
        QCOMPARE(m_board->frames(), Bytes());
        QCOMPARE(sent(), QStringList());
        QVERIFY(m_daemon.isRunning());
    }

private:
    void startDaemon()
    {
        for (const char *name : {"a.mp4", "b.mp3", "c.png", "SKINDEFAULT.jpg"})
            DeviceFiles::writeStickFile(QString::fromLatin1(name), "media");
        DeviceFiles::writeFile(QStringLiteral("/cfg/background"), "old background, longer than the new one");
        DeviceFiles::writeStickConfig("channel=200\nnodmxaction=0\nnodmxtrack=3\nnodmxvolume=20\n"
                                      "[playlist]\nsize=3\n1\\track=a.mp4\n2\\track=b.mp3\n3\\track=c.png\n");
        QVERIFY(m_daemon.start());
        QTRY_COMPARE_WITH_TIMEOUT(m_centre->connectionsAccepted(), 1, 10000);
    }

    // Playback requests and channel notices, in order: the other notices are the player's.
    QStringList sent() const { return m_centre->lines().filter(QRegularExpression("^(?!note:)|^note:Channel\\|")); }

    // "signal argument" for each signal the link emitted since the last call, by signal.
    QStringList emitted()
    {
        QStringList lines;
        for (QSignalSpy *s : qAsConst(m_spies))
            for (; !s->isEmpty(); s->removeFirst())
                lines << (s->signal().split('(')[0] + ' ' + s->first().value(0).toString()).trimmed();
        return lines;
    }

    FakeMediaCentre *m_centre = nullptr;
    BoardPort *m_board = nullptr;
    DaemonProcess m_daemon;
    DmxSerialPort *m_link = nullptr; // the in-process link, without the daemon
    QList<QSignalSpy *> m_spies;
};

QUORVANT_TEST_MAIN(TestDmxLink)
#include "tst_dmxlink.moc"
