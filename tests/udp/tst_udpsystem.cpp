// The real daemon in the box, driven from the configuration tool's host on the same LAN: the set-serial
// notice, UDP transport control in order, and floods of datagrams. quorvant-ctl's system test makes
// the discovery, search and set-serial exchanges.
#include "link/controldatagram.h"
#include "link/discoveryrecord.h"
#include "link/dmxorder.h"
#include "link/udppacket.h"
#include "tests/support/fakemediacentre.h"
#include "tests/support/testmain.h"
#include "tools/standins/boardport.h"
#include "tools/standins/daemonprocess.h"
#include "tools/standins/devicefiles.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>
#include <QtTest>

namespace {

constexpr quint16 OrderPort = 50555;
constexpr quint16 ControlPort = 5555;
const QString settingsPath = QStringLiteral("/cfg/settings.cfg");

// Sends from `socket` and returns the first answer; late answers to an earlier try are dropped.
QByteArray exchange(QUdpSocket *socket, quint16 port, const QByteArray &datagram, int timeoutMs = 10000)
{
    while (socket->hasPendingDatagrams())
        socket->receiveDatagram();
    socket->writeDatagram(datagram, Box::boxAddress(), port);
    // Waiting with the event loop turning: the media centre stand-in lives in this thread.
    const bool came = QTest::qWaitFor([socket] { return socket->hasPendingDatagrams(); }, timeoutMs);
    return came ? socket->receiveDatagram().data() : QByteArray();
}

// The files opened, the pauses and the stops, in order.
QStringList transport(const FakeMediaCentre &centre)
{
    QStringList out;
    for (const FakeMediaCentre::Request &r : centre.requests())
        if (QStringList{ "Player.Open", "Player.PlayPause", "Player.Stop" }.contains(r.method()))
            out << r.params().value("item").toObject().value("file").toString(r.method());
    return out;
}

} // namespace

class TestUdpSystem : public QObject
{
    Q_OBJECT

    FakeMediaCentre m_centre;
    BoardPort m_board;
    DaemonProcess m_daemon;
    QUdpSocket *m_replies = nullptr; // the tool host's port 50003, where discovery replies go
    QUdpSocket *m_tool = nullptr;    // the tool host's orders and control, from any port

    QByteArray discover()
    {
        return exchange(m_replies, DiscoveryRecord::ServerPort, DiscoveryRecord::request(), 1000);
    }

private slots:
    void initTestCase()
    {
        DeviceFiles::writeFile(QStringLiteral("/forcefsck"), {});
        DeviceFiles::writeSettings({ { "SN", "87654321" } });
        DeviceFiles::writeStickFile(QStringLiteral("a.mp4"), "a");
        DeviceFiles::writeStickFile(QStringLiteral("b.mp4"), "b");
        DeviceFiles::writeStickConfig("udpcontrol=true\nnodmxaction=1\n[playlist]\nsize=2\n1\\track=a.mp4\n2\\track=b.mp4\n");
        QVERIFY(m_centre.listen());
        QVERIFY(m_board.open());
        QVERIFY(m_replies = Box::peerUdpSocket(DiscoveryRecord::ReplyPort, this));
        QVERIFY(m_tool = Box::peerUdpSocket(0, this));
        QVERIFY(m_daemon.start());
        QTRY_VERIFY_WITH_TIMEOUT(!discover().isEmpty(), 20000);
    }

    void cleanupTestCase() { QVERIFY(m_daemon.isRunning()); }

    void setSerialIsAcknowledgedAndAnnounced()
    {
        const QByteArray good = udp_packet::buildUdpPacketFrame(4, 0, 0, 0, QByteArray::fromHex("00bc614e"));
        QCOMPARE(exchange(m_tool, OrderPort, QByteArray(good).replace(21, 1, "\0", 1), 500), QByteArray()); // bad sum
        QCOMPARE(exchange(m_tool, OrderPort, good), udp_packet::buildUdpPacketFrame(1, 0, 0, 0, {}));
        QTRY_COMPARE(m_centre.requests(QStringLiteral("GUI.ShowNotification")).size(), 1); // one set, one notice
        const QJsonObject notice = m_centre.requests(QStringLiteral("GUI.ShowNotification")).first().params();
        QCOMPARE(notice.value("message").toString(), QStringLiteral("Ustawiono numer seryjny: 12345678"));
        QCOMPARE(notice.value("displaytime").toInt(), 7000);
    }

    void udpControlDrivesPlaybackInOrderAndBoardIsIgnored()
    {
        // The control port opens 3000 ms after the serial line. Track 5 is b.mp4.
        const QByteArray stopped = ControlDatagram::build(0, 5, 0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(exchange(m_tool, ControlPort, stopped, 200) == stopped, 20000);
        QTRY_VERIFY(transport(m_centre).contains("Player.Stop"));
        m_centre.clearRequests();
        // Play, pause, stop, over and over: each datagram changes the state, so each must reach the player, in order.
        const QByteArray cycle[] = { ControlDatagram::build(200, 5, 0, 0), ControlDatagram::build(100, 5, 0, 0),
                                     ControlDatagram::build(0, 5, 0, 0) };
        QStringList expected;
        for (int i = 0; i < 900; ++i) {
            m_tool->writeDatagram(cycle[i % 3], Box::boxAddress(), ControlPort);
            expected << (i % 3 == 0 ? QStringList{ "Player.Stop", "/media/ZR605/b.mp4" }
                                    : QStringList{ i % 3 == 1 ? "Player.PlayPause" : "Player.Stop" });
            if (i % 30 == 29) // thirty at a time stay well inside the socket buffer
                QTRY_COMPARE_WITH_TIMEOUT(transport(m_centre).size(), expected.size(), 30000);
        }
        QCOMPARE(transport(m_centre), expected);
        m_board.clear();
        m_board.sendOrder(CMD_STOP);
        QVERIFY(!m_board.waitForFrames(1, 1500)); // not read, so not acknowledged
        QCOMPARE(transport(m_centre), expected);
    }

    // 100 000 datagrams of random bytes to each port: nothing answered, nothing changed.
    void randomFloodChangesNothing()
    {
        const QByteArray settings = DeviceFiles::readFile(settingsPath);
        m_centre.clearRequests();
        std::unique_ptr<QUdpSocket> flooder(Box::peerUdpSocket(0));
        QRandomGenerator random(20261206);
        quint32 bytes[150];
        for (int i = 0; i < 100000; ++i) {
            for (quint16 port : { quint16(DiscoveryRecord::ServerPort), OrderPort, ControlPort }) {
                random.fillRange(bytes);
                const QByteArray datagram(reinterpret_cast<const char *>(bytes), random.bounded(i % 10 ? 40 : 600));
                for (int tries = 0; flooder->writeDatagram(datagram, Box::boxAddress(), port) < 0 && tries < 1000; ++tries)
                    QThread::yieldCurrentThread(); // the send buffer is full for a moment
            }
            if (i % 1000 == 0)
                QCoreApplication::processEvents(); // the media centre stand-in lives in this thread
        }
        const QByteArray repeat = ControlDatagram::build(0, 5, 0, 0); // the last state again: changes nothing
        QTRY_COMPARE_WITH_TIMEOUT(exchange(m_tool, ControlPort, repeat, 500), repeat, 30000);
        QVERIFY(!flooder->hasPendingDatagrams()); // an echo or a reply would have come before that echo
        QCOMPARE(DeviceFiles::readFile(settingsPath), settings);
        QCOMPARE(transport(m_centre), QStringList());
        QCOMPARE(discover().size(), DiscoveryRecord::Size); // unicast; the broadcast is quorvant-ctl's
        QVERIFY(!m_replies->waitForReadyRead(200)); // one reply only
    }
};

QUORVANT_TEST_MAIN(TestUdpSystem)
#include "tst_udpsystem.moc"
