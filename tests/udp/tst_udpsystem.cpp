// The real daemon in the box, driven from the configuration tool's host on the same LAN:
// discovery, search, set serial, UDP transport control, and floods of datagrams.
#include "link/controldatagram.h"
#include "link/deviceinfo.h"
#include "link/discoveryrecord.h"
#include "link/dmxorder.h"
#include "link/udppacket.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"
#include "tests/support/fakemediacentre.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace {

constexpr quint16 OrderPort = 50555;
constexpr quint16 ControlPort = 5555;
const QString settingsPath = QStringLiteral("/cfg/settings.cfg");

// Blocks on the socket rather than polling the event loop, so measured latencies are the box's.
QByteArray nextDatagram(QUdpSocket *socket, int timeoutMs = 10000)
{
    if (!socket->hasPendingDatagrams())
        socket->waitForReadyRead(timeoutMs);
    return socket->hasPendingDatagrams() ? socket->receiveDatagram().data() : QByteArray();
}

QStringList transport(const FakeMediaCentre &centre)
{
    QStringList methods;
    for (const FakeMediaCentre::Request &r : centre.requests()) {
        if (r.method() == QLatin1String("Player.Open"))
            methods << r.params().value("item").toObject().value("file").toString();
        else if (r.method() == QLatin1String("Player.PlayPause") || r.method() == QLatin1String("Player.Stop"))
            methods << r.method();
    }
    return methods;
}

// 100 000 datagrams of random bytes to each port from the tool host, on a thread of its own.
// With `zeroFirstByte` false no datagram to port 50002 asks for a discovery reply.
void flood(int fd, bool zeroFirstByte, const std::function<void()> &meanwhile)
{
    std::atomic<bool> done{false};
    std::thread sender([&] {
        QRandomGenerator random(20261206);
        quint32 bytes[150];
        for (int i = 0; i < 100000; ++i) {
            for (quint16 port : { quint16(DiscoveryRecord::ServerPort), OrderPort, ControlPort }) {
                random.fillRange(bytes);
                if (port == DiscoveryRecord::ServerPort && !zeroFirstByte)
                    bytes[0] |= 1;
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_port = htons(port);
                to.sin_addr.s_addr = htonl(Box::boxAddress().toIPv4Address());
                const size_t size = random.bounded(i % 10 ? 40 : 600);
                while (::sendto(fd, bytes, size, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0 && errno == EAGAIN)
                    std::this_thread::yield();
            }
        }
        done = true;
    });
    while (!done)
        meanwhile();
    sender.join();
}

} // namespace

class TestUdpSystem : public QObject
{
    Q_OBJECT

    FakeMediaCentre m_centre;
    BoardPort m_board;
    DaemonProcess m_daemon;
    QUdpSocket *m_replies = nullptr; // the tool host's port 50003

    QByteArray discover(const QHostAddress &target = Box::boxAddress())
    {
        while (m_replies->hasPendingDatagrams())
            m_replies->receiveDatagram();
        m_replies->writeDatagram(DiscoveryRecord::request(), target, DiscoveryRecord::ServerPort);
        return nextDatagram(m_replies, 1000);
    }
    QByteArray order(const QByteArray &frame, int timeoutMs = 10000)
    {
        QScopedPointer<QUdpSocket> tool(Box::peerUdpSocket(0));
        tool->writeDatagram(frame, Box::boxAddress(), OrderPort);
        return nextDatagram(tool.data(), timeoutMs);
    }

private slots:
    void initTestCase()
    {
        DeviceFiles::writeFile(QStringLiteral("/forcefsck"), {});
        DeviceFiles::writeFile(settingsPath, "[General]\nNAME=Hall 3 box\nSN=87654321\nNET_MODE=static\n"
                                             "NET_IP=192.168.0.110\nNET_MASK=255.255.255.0\nNET_ROUTE=192.168.0.1\n");
        DeviceFiles::writeStickFile(QStringLiteral("a.mp4"), "a");
        DeviceFiles::writeStickFile(QStringLiteral("b.mp4"), "b");
        DeviceFiles::writeStickConfig("devname=Hall 3\npassword=secret\nchannel=12\nudpcontrol=true\nnodmxaction=1\n"
                                      "[playlist]\nsize=2\n1\\track=a.mp4\n2\\track=b.mp4\n");
        QVERIFY(m_centre.listen());
        QVERIFY(m_board.open());
        QVERIFY(m_replies = Box::peerUdpSocket(DiscoveryRecord::ReplyPort, this));
        QVERIFY(m_daemon.start());
        QTRY_VERIFY_WITH_TIMEOUT(!discover().isEmpty(), 20000);
    }

    void cleanupTestCase() { QVERIFY(m_daemon.isRunning()); }

    void discoveryByBroadcastAndUnicast()
    {
        DiscoveryRecord expected;
        expected.deviceName = QStringLiteral("Hall 3 box");
        expected.serialNumber = QStringLiteral("87654321");
        expected.channel = 12;
        for (const QHostAddress &target : { QHostAddress(QStringLiteral("192.168.77.255")), Box::boxAddress() }) {
            QCOMPARE(discover(target).toHex(' '), expected.toBytes().toHex(' '));
            QCOMPARE(m_replies->receiveDatagram().senderPort(), -1); // nothing more came
        }
    }

    void searchReplyCarriesSettingsAndStick()
    {
        udp_packet packet;
        QVERIFY(udp_packet::parse(order(udp_packet::buildUdpPacketFrame(3, 0, 0, 0, {})), &packet));
        DeviceInfo info;
        QVERIFY(packet.header.type == 3 && DeviceInfo::fromBytes(packet.payload, &info));
        QCOMPARE(info.name + info.password, QStringLiteral("Hall 3secret"));
        QCOMPARE(info.serial, quint32(87654321));
        QCOMPARE(packet.payload.mid(12, 9).toHex(' '), QByteArray("6e 00 a8 c0 18 01 00 a8 c0")); // ip, mask, gateway
        QCOMPARE(info.storageSize, QStorageInfo(Box::stickPath()).bytesTotal());
        QCOMPARE(info.channel, quint16(12));
    }

    void setSerialIsStoredAnnouncedAndAcknowledged()
    {
        QByteArray bad = udp_packet::buildUdpPacketFrame(4, 0, 0, 0, QByteArray::fromHex("00bc614e"));
        const QByteArray good = bad;
        bad[21] = 0;
        QCOMPARE(order(bad, 500), QByteArray());
        QCOMPARE(order(good), udp_packet::buildUdpPacketFrame(1, 0, 0, 0, {}));
        QVERIFY(DeviceFiles::readFile(settingsPath).contains("SN=12345678"));
        QTRY_COMPARE(m_centre.requests(QStringLiteral("GUI.ShowNotification")).size(), 1);
        const QJsonObject notice = m_centre.requests(QStringLiteral("GUI.ShowNotification")).first().params();
        QCOMPARE(notice.value("message").toString(), QStringLiteral("Ustawiono numer seryjny: 12345678"));
        QCOMPARE(notice.value("displaytime").toInt(), 7000);
        QVERIFY(discover().contains("12345678"));
    }

    void udpControlDrivesPlaybackAndBoardIsIgnored()
    {
        QScopedPointer<QUdpSocket> controller(Box::peerUdpSocket(0));
        // The control port opens 3000 ms after the serial line; a repeated datagram changes nothing.
        const QByteArray stopped = ControlDatagram::build(0, 0, 0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(controller->writeDatagram(stopped, Box::boxAddress(), ControlPort) > 0
                                     && nextDatagram(controller.data(), 200) == stopped, 20000);
        QTRY_VERIFY(transport(m_centre).contains("Player.Stop"));
        m_centre.clearRequests();
        controller->writeDatagram(ControlDatagram::build(200, 0, 0, 0), Box::boxAddress(), ControlPort);
        controller->writeDatagram(ControlDatagram::build(200, 5, 0, 0), Box::boxAddress(), ControlPort);
        QTRY_COMPARE(transport(m_centre), QStringList({ "Player.Stop", "/media/ZR605/a.mp4",
                                                        "Player.Stop", "/media/ZR605/b.mp4" }));
        m_board.clear();
        m_board.sendOrder(CMD_STOP);
        QVERIFY(!m_board.waitForFrames(1, 1500)); // not read, so not acknowledged
        QCOMPARE(transport(m_centre).size(), 4);
    }

    void randomFloodChangesNothingAndDiscoveryLatency()
    {
        const QByteArray settings = DeviceFiles::readFile(settingsPath);
        m_centre.clearRequests();
        QScopedPointer<QUdpSocket> tool(Box::peerUdpSocket(0));
        QElapsedTimer timer;
        timer.start();
        flood(int(tool->socketDescriptor()), true, [] { QTest::qWait(10); });
        qInfo("random flood: 3 x 100000 datagrams in %lld ms", timer.elapsed());
        QVERIFY(m_daemon.isRunning());
        QCOMPARE(DeviceFiles::readFile(settingsPath), settings);
        QCOMPARE(transport(m_centre), QStringList());

        QVector<qint64> latencies[2];
        int lost[2] = { 0, 0 };
        auto probe = [&](int phase) {
            timer.restart();
            if (discover().size() == DiscoveryRecord::Size)
                latencies[phase] << timer.nsecsElapsed() / 1000;
            else
                ++lost[phase];
        };
        for (int i = 0; i < 200; ++i)
            probe(0);
        flood(int(tool->socketDescriptor()), false, [&] { probe(1); });
        for (int phase : { 0, 1 }) {
            std::sort(latencies[phase].begin(), latencies[phase].end());
            const auto &l = latencies[phase];
            QVERIFY(!l.isEmpty());
            qInfo("discovery %s: %d replies, %d without reply in 1 s; us median %lld, p95 %lld, max %lld",
                  phase ? "under flood" : "idle", l.size(), lost[phase], l[l.size() / 2], l[l.size() * 95 / 100], l.last());
        }
    }

    void controlFloodReachesPlayerInOrder()
    {
        QScopedPointer<QUdpSocket> controller(Box::peerUdpSocket(0));
        const QByteArray cycle[] = { ControlDatagram::build(200, 5, 0, 0), ControlDatagram::build(100, 5, 0, 0),
                                     ControlDatagram::build(0, 5, 0, 0) };
        // Right after a flood the box's buffers may still be full and drop a datagram.
        QTRY_VERIFY(controller->writeDatagram(cycle[2], Box::boxAddress(), ControlPort) > 0
                    && !nextDatagram(controller.data(), 200).isEmpty());
        QTest::qWait(600);
        m_centre.clearRequests();
        // Play, pause, stop, over and over: every datagram changes the state, so each must reach
        // the player, in order. Thirty at a time stay well inside the socket buffer.
        QStringList expected;
        for (int i = 0; i < 900; ++i) {
            controller->writeDatagram(cycle[i % 3], Box::boxAddress(), ControlPort);
            if (i % 30 == 29) {
                for (int echo = 0; echo < 30; ++echo)
                    QVERIFY(!nextDatagram(controller.data()).isEmpty());
            }
            expected << (i % 3 == 0 ? QStringList{ "Player.Stop", "/media/ZR605/b.mp4" }
                                    : QStringList{ i % 3 == 1 ? "Player.PlayPause" : "Player.Stop" });
        }
        QTRY_COMPARE_WITH_TIMEOUT(transport(m_centre).size(), expected.size(), 30000);
        QCOMPARE(transport(m_centre), expected);
    }
};

QUORVANT_TEST_MAIN(TestUdpSystem)
#include "tst_udpsystem.moc"
