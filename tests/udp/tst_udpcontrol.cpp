// UdpControl on loopback: level bands, the change detector, the echo and the port binding.
#include "link/controldatagram.h"
#include "link/udpcontrol.h"
#include "tests/support/box.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

using ByteArrayList = QList<QByteArray>;

class TestUdpControl : public QObject
{
    Q_OBJECT

private slots:
    void levelBandEdges_data();
    void levelBandEdges();
    void levelsMissingFromShortPayloadReadAsZero();
    void emitsOnlyChangedCommands_data();
    void emitsOnlyChangedCommands();
    void echoesOnlyControlDatagrams();
    void setPortBindsOnceAndMovesOnChange();

private:
    static constexpr quint16 Port = 5555;
};

namespace {

// Everything a UdpControl emits, in order, as short readable lines.
class Recorder : public QObject
{
public:
    explicit Recorder(UdpControl *control)
    {
        connect(control, &UdpControl::play, this, [this] { log << "play"; });
        connect(control, &UdpControl::pause, this, [this] { log << "pause"; });
        connect(control, &UdpControl::stop, this, [this] { log << "stop"; });
        connect(control, &UdpControl::setTrack, this, [this](uint16_t v) { log << QStringLiteral("track %1").arg(v); });
        connect(control, &UdpControl::setMode, this, [this](uint16_t v) { log << QStringLiteral("mode %1").arg(v); });
        connect(control, &UdpControl::setLeftVolume, this, [this](uint16_t v) { log << QStringLiteral("volume %1").arg(v); });
        connect(control, &UdpControl::setDmxSignal, this, [this](bool on) { log << (on ? "dmx on" : "dmx off"); });
    }
    QStringList log;
};

// A controller on loopback that sends datagrams and collects the echoes.
class Controller
{
public:
    Controller() { socket.bind(QHostAddress(QHostAddress::LocalHost), 0); }

    void send(const QByteArray &datagram, quint16 port)
    {
        socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
    }
    bool waitForEchoes(int count)
    {
        QElapsedTimer timer;
        timer.start();
        while (echoes.size() < count && timer.elapsed() < 10000) {
            if (!socket.hasPendingDatagrams())
                QTest::qWait(5);
            while (socket.hasPendingDatagrams())
                echoes << socket.receiveDatagram().data();
        }
        return echoes.size() == count;
    }

    QUdpSocket socket;
    ByteArrayList echoes;
};

} // namespace

void TestUdpControl::levelBandEdges_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");

    const struct { int level; const char *name; QVector<QPair<int, int>> edges; } mappings[] = {
        { ControlDatagram::StateLevel, "state", { {0, 0}, {63, 0}, {64, 1}, {127, 1}, {128, 2}, {255, 2} } },
        { ControlDatagram::TrackLevel, "track",
          { {0, 0}, {1, 0}, {3, 0}, {4, 1}, {6, 1}, {7, 2}, {10, 3}, {12, 3}, {13, 4}, {252, 83}, {253, 84}, {255, 84} } },
        { ControlDatagram::ModeLevel, "mode",
          { {0, 0}, {63, 0}, {64, 1}, {127, 1}, {128, 2}, {191, 2}, {192, 3}, {249, 3}, {250, 4}, {255, 4} } },
        { ControlDatagram::VolumeLevel, "volume", { {0, 0}, {3, 0}, {4, 1}, {127, 31}, {128, 32}, {251, 62}, {252, 63}, {255, 63} } },
    };
    for (const auto &mapping : mappings) {
        for (const auto &edge : mapping.edges)
            QTest::addRow("%s %d", mapping.name, edge.first) << mapping.level << edge.first << edge.second;
    }
}

void TestUdpControl::levelBandEdges()
{
    QFETCH(int, level);
    QFETCH(int, value);
    QFETCH(int, expected);

    // The other levels hold a value that maps differently, so reading the wrong byte shows.
    QByteArray payload(4, char(0xAA));
    payload[level] = char(value);
    int (*const calculate[])(const QByteArray &) = { &UdpControl::calculateState, &UdpControl::calculateTrack,
                                                     &UdpControl::calculateMode, &UdpControl::calculateVolume };
    QCOMPARE(calculate[level](payload), expected);
}

void TestUdpControl::levelsMissingFromShortPayloadReadAsZero()
{
    const QByteArray payload(1, char(200));
    QCOMPARE(UdpControl::calculateState(payload), 2);
    QCOMPARE(UdpControl::calculateTrack(payload), 0);
    QCOMPARE(UdpControl::calculateMode(payload), 0);
    QCOMPARE(UdpControl::calculateVolume(payload), 0);
}

void TestUdpControl::emitsOnlyChangedCommands_data()
{
    QTest::addColumn<ByteArrayList>("payloads");
    QTest::addColumn<QStringList>("expected");

    const QByteArray first = QByteArray::fromHex("c80a4680"); // 200, 10, 70, 128
    const QStringList firstSignals = { "dmx on", "play", "track 3", "mode 1", "volume 32" };

    QTest::newRow("first datagram emits all") << ByteArrayList{ first } << firstSignals;
    QTest::newRow("track within its band") << ByteArrayList{ first, QByteArray::fromHex("c80b4680") }
                                           << firstSignals + QStringList{ "dmx on" };
    QTest::newRow("state and track change") << ByteArrayList{ first, QByteArray::fromHex("c80b4680"),
                                                              QByteArray::fromHex("640d4680") }
                                            << firstSignals + QStringList{ "dmx on", "dmx on", "pause", "track 4" };
    QTest::newRow("repeat emits nothing") << ByteArrayList{ first, first } << firstSignals;
    QTest::newRow("state and mode within bands")
        << ByteArrayList{ QByteArray::fromHex("4600c800"), QByteArray::fromHex("5a00f000") }
        << QStringList{ "dmx on", "pause", "track 0", "mode 3", "volume 0", "dmx on" };
    QTest::newRow("extremes") << ByteArrayList{ QByteArray::fromHex("0000ffff") }
                              << QStringList{ "dmx on", "stop", "track 0", "mode 4", "volume 63" };
    QTest::newRow("every level changes") << ByteArrayList{ QByteArray::fromHex("0000ffff"), QByteArray::fromHex("ff0d0000") }
                                         << QStringList{ "dmx on", "stop", "track 0", "mode 4", "volume 63",
                                                         "dmx on", "play", "track 4", "mode 0", "volume 0" };
    QTest::newRow("short first payload") << ByteArrayList{ QByteArray::fromHex("c8") }
                                         << QStringList{ "dmx on", "play", "track 0", "mode 0", "volume 0" };
    // A payload of another size is not acted on and does not become the reference either.
    QTest::newRow("five-byte payload") << ByteArrayList{ first, QByteArray::fromHex("00404680ff"),
                                                         QByteArray::fromHex("00404680") }
                                       << firstSignals + QStringList{ "dmx on", "dmx on", "stop", "track 21" };
    QTest::newRow("one-byte payload after the first")
        << ByteArrayList{ first, QByteArray::fromHex("c8"), QByteArray::fromHex("c8000000") }
        << firstSignals + QStringList{ "dmx on", "dmx on", "track 0", "mode 0", "volume 0" };
}

void TestUdpControl::emitsOnlyChangedCommands()
{
    QFETCH(ByteArrayList, payloads);
    QFETCH(QStringList, expected);

    UdpControl control;
    control.setPort(Port);
    Recorder recorder(&control);
    Controller controller;
    for (const QByteArray &payload : payloads)
        controller.send("zr605" + payload, Port);
    QVERIFY(controller.waitForEchoes(payloads.size()));
    QCOMPARE(recorder.log, expected);
}

void TestUdpControl::echoesOnlyControlDatagrams()
{
    UdpControl control;
    control.setPort(Port);
    Recorder recorder(&control);
    Controller controller;
    for (const QByteArray &foreign : { QByteArray("ZR605\xc8\x0a\x46\x80"), QByteArray("zr60"),
                                       QByteArray("xzr605\xc8"), QByteArray() })
        controller.send(foreign, Port);
    const QByteArray valid = ControlDatagram::build(0, 0, 0, 0);
    controller.send(valid, Port);

    QVERIFY(controller.waitForEchoes(1));
    QCOMPARE(controller.echoes.first(), valid);
    QCOMPARE(recorder.log, QStringList({ "dmx on", "stop", "track 0", "mode 0", "volume 0" }));
    QTest::qWait(100);
    QVERIFY(!controller.socket.hasPendingDatagrams());
}

void TestUdpControl::setPortBindsOnceAndMovesOnChange()
{
    UdpControl control;
    QCOMPARE(control.port(), quint16(0));
    QSignalSpy dmx(&control, &UdpControl::setDmxSignal);
    control.setPort(Port);
    QCOMPARE(dmx.size(), 2);
    QCOMPARE(dmx.at(0).at(0).toBool(), false);
    QCOMPARE(dmx.at(1).at(0).toBool(), true);
    QCOMPARE(control.port(), Port);

    control.setPort(Port);
    QCOMPARE(dmx.size(), 2);
    Controller controller;
    controller.send("zr605", Port);
    QVERIFY(controller.waitForEchoes(1));

    const quint16 other = Port + 1;
    control.setPort(other);
    QCOMPARE(control.port(), other);
    QUdpSocket oldPort;
    QVERIFY2(oldPort.bind(QHostAddress::Any, Port), "the old port is still held");
    controller.send("zr605", other);
    QVERIFY(controller.waitForEchoes(2));
}

QUORVANT_TEST_MAIN(TestUdpControl)
#include "tst_udpcontrol.moc"
