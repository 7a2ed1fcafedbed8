// UdpControl: level bands, the change detector and the port binding; the echo is proven by the system test.
#include "link/udpcontrol.h"
#include "tests/support/testmain.h"

#include <QUdpSocket>

namespace {

constexpr quint16 Port = 5555;

// Everything a UdpControl emits, in order.
struct Recorder : QObject {
    explicit Recorder(UdpControl *c)
    {
        connect(c, &UdpControl::play, this, [this] { log << "play"; });
        connect(c, &UdpControl::pause, this, [this] { log << "pause"; });
        connect(c, &UdpControl::stop, this, [this] { log << "stop"; });
        connect(c, &UdpControl::setTrack, this, [this](uint16_t v) { log << QStringLiteral("track %1").arg(v); });
        connect(c, &UdpControl::setMode, this, [this](uint16_t v) { log << QStringLiteral("mode %1").arg(v); });
        connect(c, &UdpControl::setLeftVolume, this, [this](uint16_t v) { log << QStringLiteral("volume %1").arg(v); });
        connect(c, &UdpControl::setDmxSignal, this, [this](bool on) { log << (on ? "dmx" : "no dmx"); });
    }
    QStringList log;
};

} // namespace

class TestUdpControl : public QObject
{
    Q_OBJECT

private slots:
    void levelBandEdges_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QVector<int>>("edges"); // pairs of level value and mapped result
        QTest::newRow("state") << 0 << QVector<int>{ 0, 0, 63, 0, 64, 1, 127, 1, 128, 2, 255, 2 };
        QTest::newRow("track") << 1 << QVector<int>{ 0, 0, 3, 0, 4, 1, 6, 1, 7, 2, 252, 83, 253, 84, 255, 84 };
        QTest::newRow("mode") << 2 << QVector<int>{ 0, 0, 63, 0, 64, 1, 127, 1, 128, 2, 191, 2, 192, 3, 249, 3, 250, 4, 255, 4 };
        QTest::newRow("volume") << 3 << QVector<int>{ 0, 0, 3, 0, 4, 1, 251, 62, 252, 63, 255, 63 };
    }

    void levelBandEdges()
    {
        QFETCH(int, level);
        QFETCH(QVector<int>, edges);
        int (*const calculate[])(const QByteArray &)
            = { &UdpControl::calculateState, &UdpControl::calculateTrack, &UdpControl::calculateMode, &UdpControl::calculateVolume };
        for (int i = 0; i < edges.size(); i += 2) {
            // The other levels map differently, so reading the wrong byte shows.
            QByteArray payload(4, char(0xAA));
            payload[level] = char(edges[i]);
            QCOMPARE(calculate[level](payload), edges[i + 1]);
        }
    }

    void emitsOnlyChangedCommands_data()
    {
        QTest::addColumn<QList<QByteArray>>("payloads");
        QTest::addColumn<QStringList>("expected");
        const auto hex = &QByteArray::fromHex;
        const QByteArray first = hex("c80a4680"); // 200, 10, 70, 128
        const QStringList all = { "dmx", "play", "track 3", "mode 1", "volume 32" };
        QTest::newRow("changes within bands") << QList<QByteArray>{ first, hex("b40c6483") } << all + QStringList{ "dmx" };
        QTest::newRow("extremes, all change")
            << QList<QByteArray>{ first, hex("0000ffff") } << all + QStringList{ "dmx", "stop", "track 0", "mode 4", "volume 63" };
        QTest::newRow("short first payload")
            << QList<QByteArray>{ hex("c8") } << QStringList{ "dmx", "play", "track 0", "mode 0", "volume 0" };
        // A payload of another size is not acted on and does not become the reference either.
        QTest::newRow("five-byte payload")
            << QList<QByteArray>{ first, hex("00404680ff"), hex("00404680") } << all + QStringList{ "dmx", "dmx", "stop", "track 21" };
    }

    void emitsOnlyChangedCommands()
    {
        QFETCH(QList<QByteArray>, payloads);
        UdpControl control;
        Recorder recorder(&control);
        for (const QByteArray &payload : payloads)
            control.checkNetworkControl(payload);
        QTEST(recorder.log, "expected");
    }

    void setPortBindsOnce()
    {
        UdpControl control;
        QSignalSpy dmx(&control, &UdpControl::setDmxSignal);
        control.setPort(Port);
        control.setPort(Port);
        QCOMPARE(dmx.size(), 2);
        QVERIFY(!dmx.at(0).at(0).toBool() && dmx.at(1).at(0).toBool());
        QUdpSocket other;
        QVERIFY(!other.bind(QHostAddress::Any, Port));
    }
};

QUORVANT_TEST_MAIN(TestUdpControl)
#include "tst_udpcontrol.moc"
