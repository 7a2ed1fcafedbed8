// The real daemon in the box, driven from the configuration tool's host on the same LAN: the set-serial
// notice, UDP transport control in order, floods of datagrams, forged senders that would make the
// box echo forever, and a chatty board while the board link is off. quorvant-ctl's system test makes
// the discovery, search and set-serial exchanges.
#include "wire/controldatagram.h"
#include "wire/discoveryrecord.h"
#include "wire/dmxorder.h"
#include "link/udpcontrol.h"
#include "wire/udppacket.h"
#include "tests/support/testmain.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

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
    return centre.lines().filter(QRegularExpression("^(open|pause|resume|stop):"));
}

// Sends one UDP datagram with any source address and port, as a forger on the LAN could.
bool sendForged(const QHostAddress &from, quint16 fromPort, const QHostAddress &to, quint16 toPort,
                const QByteArray &payload)
{
    const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (fd < 0)
        return false;
    QByteArray packet(sizeof(iphdr) + sizeof(udphdr), '\0');
    packet += payload;
    auto *ip = reinterpret_cast<iphdr *>(packet.data());
    ip->version = 4;
    ip->ihl = 5;
    ip->ttl = 64;
    ip->protocol = IPPROTO_UDP;
    ip->tot_len = htons(quint16(packet.size()));
    ip->saddr = htonl(from.toIPv4Address());
    ip->daddr = htonl(to.toIPv4Address());
    auto *udp = reinterpret_cast<udphdr *>(packet.data() + sizeof(iphdr));
    udp->source = htons(fromPort);
    udp->dest = htons(toPort);
    udp->len = htons(quint16(sizeof(udphdr) + payload.size())); // checksum 0: none
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = ip->daddr;
    const bool sent = ::sendto(fd, packet.constData(), size_t(packet.size()), 0,
                               reinterpret_cast<const sockaddr *>(&target), sizeof target) == packet.size();
    ::close(fd);
    return sent;
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
        QTRY_VERIFY_WITH_TIMEOUT(!exchange(m_replies, DiscoveryRecord::ServerPort, DiscoveryRecord::request(), 1000).isEmpty(), 20000);
    }

    void cleanupTestCase() { QVERIFY(m_daemon.isRunning()); }

    void setSerialIsAcknowledgedAndAnnounced()
    {
        const QByteArray good = udp_packet::buildUdpPacketFrame(4, 0, 0, 0, QByteArray::fromHex("00bc614e"));
        QCOMPARE(exchange(m_tool, OrderPort, QByteArray(good).replace(21, 1, "\0", 1), 500), QByteArray()); // bad sum
        QCOMPARE(exchange(m_tool, OrderPort, good), udp_packet::buildUdpPacketFrame(1, 0, 0, 0, {}));
        QTRY_COMPARE(m_centre.lines().filter("note:"), QStringList{"note:Numer seryjny|Ustawiono numer seryjny: 12345678"});
        QCOMPARE(m_centre.requests("GUI.ShowNotification").first().params()["displaytime"].toInt(), 7000);
        QCOMPARE(QSettings(settingsPath, QSettings::IniFormat).value("SN").toString(), QString("12345678"));
    }

    // The installer takes an acknowledgement for "stored": with /cfg read-only none may come.
    void setSerialThatCannotBeStoredIsNotAcknowledged()
    {
        const QByteArray order = udp_packet::buildUdpPacketFrame(4, 0, 0, 0, QByteArray::fromHex("00bc6150"));
        QCOMPARE(::mount(nullptr, "/cfg", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        const QByteArray refused = exchange(m_tool, OrderPort, order, 1000);
        QCOMPARE(::mount(nullptr, "/cfg", nullptr, MS_REMOUNT, nullptr), 0);
        QCOMPARE(refused, QByteArray());
        QCOMPARE(QSettings(settingsPath, QSettings::IniFormat).value("SN").toString(), QString("12345678"));
        QCOMPARE(exchange(m_tool, OrderPort, order), udp_packet::buildUdpPacketFrame(1, 0, 0, 0, {}));
        QCOMPARE(QSettings(settingsPath, QSettings::IniFormat).value("SN").toString(), QString("12345680"));
    }

    void udpControlDrivesPlaybackInOrderAndBoardIsIgnored()
    {
        // The control port opens 3000 ms after the serial line. Track 5 is b.mp4.
        const QByteArray stopped = ControlDatagram::build(0, 5, 0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(exchange(m_tool, ControlPort, stopped, 200) == stopped, 20000);
        QTRY_VERIFY(transport(m_centre).contains("stop:0"));
        m_centre.clearRequests();
        // Play, pause, stop, over and over: each datagram changes the state, so each must reach the player, in order.
        const QByteArray cycle[] = { ControlDatagram::build(200, 5, 0, 0), ControlDatagram::build(100, 5, 0, 0),
                                     ControlDatagram::build(0, 5, 0, 0) };
        QStringList expected;
        for (int i = 0; i < 900; ++i) {
            m_tool->writeDatagram(cycle[i % 3], Box::boxAddress(), ControlPort);
            expected << (i % 3 == 0 ? QStringList{ "stop:0", "open:b.mp4" }
                                    : QStringList{ i % 3 == 1 ? "pause:0" : "stop:0" });
            if (i % 30 == 29) // thirty at a time stay well inside the socket buffer
                QTRY_COMPARE_WITH_TIMEOUT(transport(m_centre).size(), expected.size(), 30000);
        }
        QCOMPARE(transport(m_centre), expected);
        m_board.clear();
        m_board.sendOrder(CMD_STOP);
        QVERIFY(!m_board.waitForFrames(1, 1500)); // not read, so not acknowledged
        QCOMPARE(transport(m_centre), expected);
    }

    // 100 000 datagrams of random bytes to each port (none a discovery request): nothing answered,
    // nothing changed.
    void randomFloodChangesNothing()
    {
        const QByteArray settings = DeviceFiles::readFile(settingsPath);
        m_centre.clearRequests();
        while (m_replies->hasPendingDatagrams())
            m_replies->receiveDatagram();
        std::unique_ptr<QUdpSocket> flooder(Box::peerUdpSocket(0));
        QRandomGenerator random(20261206);
        quint32 bytes[150];
        for (int i = 0; i < 100000; ++i) {
            for (quint16 port : { quint16(DiscoveryRecord::ServerPort), OrderPort, ControlPort }) {
                random.fillRange(bytes);
                QByteArray datagram(reinterpret_cast<const char *>(bytes), random.bounded(1, i % 10 ? 40 : 600));
                if (port == DiscoveryRecord::ServerPort && datagram.at(0) == 0)
                    datagram[0] = 1; // a first byte 0 asks for the record, which is answered
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
        // Any answer to the flood would come before the answer to this request, on the same port.
        m_replies->writeDatagram(DiscoveryRecord::request(), Box::boxAddress(), DiscoveryRecord::ServerPort);
        QVERIFY(m_replies->waitForReadyRead(10000));
        QTest::qWait(200);
        QCOMPARE(m_replies->receiveDatagram().data().size(), DiscoveryRecord::Size);
        QVERIFY(!m_replies->hasPendingDatagrams());
    }

    // One play datagram whose sender is the box's own control port, or a second box's (played by a
    // peer that echoes everything back from port 5555), must not keep the box busy echoing, and
    // the controller's stop that follows must hold.
    void forgedSenderStartsNoEndlessEcho_data()
    {
        QTest::addColumn<bool>("ownPort");
        QTest::newRow("own address and control port") << true;
        QTest::newRow("another box's control port") << false;
    }

    void forgedSenderStartsNoEndlessEcho()
    {
        QFETCH(bool, ownPort);
        const QByteArray play = ControlDatagram::build(200, 5, 0, 0);
        const QByteArray stop = ControlDatagram::build(0, 5, 0, 0);
        std::unique_ptr<QUdpSocket> otherBox(ownPort ? nullptr : Box::peerUdpSocket(ControlPort));
        int bounced = 0;
        if (otherBox) {
            connect(otherBox.get(), &QUdpSocket::readyRead, this, [&] {
                while (otherBox->hasPendingDatagrams()) {
                    const QNetworkDatagram datagram = otherBox->receiveDatagram();
                    otherBox->writeDatagram(datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort()));
                    ++bounced;
                }
            });
        }
        // The control port opens 3000 ms after the serial line.
        QTRY_VERIFY_WITH_TIMEOUT(exchange(m_tool, ControlPort, stop, 200) == stop, 20000);
        QTest::qWait(1100); // a fresh echo budget
        const qint64 ticksBefore = m_daemon.cpuTicks();
        QVERIFY(ownPort ? sendForged(Box::boxAddress(), ControlPort, Box::boxAddress(), ControlPort, play)
                        : otherBox->writeDatagram(play, Box::boxAddress(), ControlPort) == play.size());
        QEventLoop loop; // no pauses between turns, so the other box answers at once
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
        const qint64 ticks = m_daemon.cpuTicks() - ticksBefore;
        qInfo("daemon CPU over the 2 s after the datagram: %lld ticks of %ld; echoes to the other box: %d",
              ticks, ::sysconf(_SC_CLK_TCK), bounced);
        QVERIFY2(ticks < ::sysconf(_SC_CLK_TCK) / 2, "the box is still busy echoing");
        QVERIFY(bounced <= UdpControl::maxEchoesPerSecond);
        otherBox.reset();

        m_centre.clearRequests();
        QCOMPARE(exchange(m_tool, ControlPort, stop), stop);
        QTRY_COMPARE(transport(m_centre).value(0), QStringLiteral("stop:0"));
        QTest::qWait(1000);
        QCOMPARE(transport(m_centre), QStringList{ "stop:0" });
    }

    // The board link is off while UDP control is on: what the board sends is read and dropped.
    void serialInputIsDroppedWhileTheBoardLinkIsOff()
    {
        const qint64 idle = m_daemon.rssKiB();
        m_board.send(QByteArray(10 << 20, '\x55'));
        QTRY_COMPARE_WITH_TIMEOUT(m_board.bytesToWrite(), 0, 120000);
        QTest::qWait(500);
        const qint64 after = m_daemon.rssKiB();
        qInfo("daemon RSS before and after 10 MiB on the serial line: %lld KiB, %lld KiB", idle, after);
        QVERIFY2(after - idle < 4096, "the serial input is kept in memory");
    }
};

QUORVANT_TEST_MAIN(TestUdpSystem)
#include "tst_udpsystem.moc"
