// The real daemon in the box, driven from the configuration tool's host on the same LAN:
// discovery, search, set serial, UDP transport control, and floods of datagrams.
#include "link/controldatagram.h"
#include "link/deviceinfo.h"
#include "link/dmxorder.h"
#include "link/discoveryrecord.h"
#include "link/serialorder.h"
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
#include <sys/socket.h>
#include <netinet/in.h>
#include <thread>

namespace {

constexpr quint16 OrderPort = 50555;
constexpr quint16 ControlPort = 5555;
constexpr int FloodCount = 100000;
const QString settingsPath = QStringLiteral("/cfg/settings.cfg");

QHostAddress broadcastAddress()
{
    return QHostAddress(QStringLiteral("192.168.77.255"));
}

// Waits for the next datagram on a socket; an invalid datagram when none came in time. It blocks
// on the socket rather than polling the event loop, so the latencies measured are the box's.
QNetworkDatagram nextDatagram(QUdpSocket *socket, int timeoutMs = 10000)
{
    if (!socket->hasPendingDatagrams())
        socket->waitForReadyRead(timeoutMs);
    return socket->hasPendingDatagrams() ? socket->receiveDatagram() : QNetworkDatagram();
}

QStringList transportMethods(const FakeMediaCentre &centre)
{
    QStringList methods;
    for (const FakeMediaCentre::Request &request : centre.requests()) {
        const QString method = request.method();
        if (method == QLatin1String("Player.Open"))
            methods << QStringLiteral("Open ") + request.params().value("item").toObject().value("file").toString();
        else if (method == QLatin1String("Player.PlayPause"))
            methods << (request.params().value("play").toBool() ? "Resume" : "Pause");
        else if (method == QLatin1String("Player.Stop"))
            methods << QStringLiteral("Stop");
    }
    return methods;
}

// Sends `count` datagrams of random bytes to each port from the tool host, on a thread of its
// own so the event loop keeps measuring. `zeroFirstByte` false keeps the first byte of the
// datagrams to port 50002 non-zero, so that no flood datagram asks for a discovery reply.
class Flood
{
public:
    Flood(int fd, QVector<quint16> ports, int count, bool zeroFirstByte)
        : m_thread([=] { run(fd, ports, count, zeroFirstByte); })
    {
    }
    ~Flood() { m_thread.join(); }
    bool done() const { return m_done; }
    int failed() const { return m_failed; }

private:
    void run(int fd, const QVector<quint16> &ports, int count, bool zeroFirstByte)
    {
        QRandomGenerator random(20261206);
        char bytes[600];
        for (int i = 0; i < count; ++i) {
            for (quint16 port : ports) {
                const int size = random.bounded(i % 10 == 0 ? 600 : 40);
                random.fillRange(reinterpret_cast<quint32 *>(bytes), sizeof bytes / 4);
                if (port == DiscoveryRecord::ServerPort && !zeroFirstByte && bytes[0] == 0)
                    bytes[0] = 1;
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_port = htons(port);
                to.sin_addr.s_addr = htonl(Box::boxAddress().toIPv4Address());
                while (::sendto(fd, bytes, size_t(size), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
                    if (errno != EAGAIN && errno != ENOBUFS) {
                        ++m_failed;
                        break;
                    }
                    std::this_thread::yield();
                }
            }
        }
        m_done = true;
    }

    std::atomic<bool> m_done{false};
    std::atomic<int> m_failed{0};
    std::thread m_thread;
};

} // namespace

class TestUdpSystem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void discoveryAnswersFromPort50002_data();
    void discoveryAnswersFromPort50002();
    void searchReplyCarriesSettingsAndStick();
    void badOrUnknownFramesGetNoReply_data();
    void badOrUnknownFramesGetNoReply();
    void setSerialIsStoredAnnouncedAndAcknowledged();
    void udpControlDrivesPlaybackAndBoardIsIgnored();
    void randomFloodChangesNothing();
    void discoveryLatencyUnderLoad();
    void controlFloodReachesPlayerInOrder();

private:
    QByteArray discover(const QHostAddress &target);
    QByteArray order(const QByteArray &frame, int timeoutMs = 10000);

    FakeMediaCentre m_centre;
    BoardPort m_board;
    DaemonProcess m_daemon;
    QUdpSocket *m_discoveryReplies = nullptr;
};

void TestUdpSystem::initTestCase()
{
    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), {});
    DeviceFiles::writeFile(settingsPath, "[General]\nNAME=Hall 3 box\nSN=87654321\nNET_MODE=static\n"
                                         "NET_IP=192.168.0.110\nNET_MASK=255.255.255.0\nNET_ROUTE=192.168.0.1\n");
    DeviceFiles::writeStickFile(QStringLiteral("a.mp4"), "a");
    DeviceFiles::writeStickFile(QStringLiteral("b.mp4"), "b");
    DeviceFiles::writeStickConfig("[General]\ndevname=Hall 3\npassword=secret\nchannel=12\n"
                                  "udpcontrol=true\nudpport=5555\nnodmxaction=1\n"
                                  "[playlist]\nsize=2\n1\\track=a.mp4\n2\\track=b.mp4\n");
    QVERIFY(m_centre.listen());
    QVERIFY2(m_board.open(), qPrintable(m_board.errorString()));
    m_discoveryReplies = Box::peerUdpSocket(DiscoveryRecord::ReplyPort, this);
    QVERIFY(m_discoveryReplies);
    QVERIFY(m_daemon.start());
    QTRY_VERIFY_WITH_TIMEOUT(!discover(Box::boxAddress()).isEmpty(), 20000);
}

void TestUdpSystem::cleanupTestCase()
{
    QVERIFY(m_daemon.isRunning());
    m_daemon.stop();
}

QByteArray TestUdpSystem::discover(const QHostAddress &target)
{
    while (m_discoveryReplies->hasPendingDatagrams())
        m_discoveryReplies->receiveDatagram();
    m_discoveryReplies->writeDatagram(DiscoveryRecord::request(), target, DiscoveryRecord::ServerPort);
    const QNetworkDatagram reply = nextDatagram(m_discoveryReplies, 1000);
    if (reply.senderPort() != DiscoveryRecord::ServerPort
        || QHostAddress(reply.senderAddress().toIPv4Address()) != Box::boxAddress())
        return QByteArray();
    return reply.data();
}

QByteArray TestUdpSystem::order(const QByteArray &frame, int timeoutMs)
{
    QScopedPointer<QUdpSocket> tool(Box::peerUdpSocket(0));
    if (!tool)
        return QByteArray();
    tool->writeDatagram(frame, Box::boxAddress(), OrderPort);
    return nextDatagram(tool.data(), timeoutMs).data();
}

void TestUdpSystem::discoveryAnswersFromPort50002_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("broadcast") << broadcastAddress().toString();
    QTest::newRow("unicast") << Box::boxAddress().toString();
}

void TestUdpSystem::discoveryAnswersFromPort50002()
{
    QFETCH(QString, target);
    DiscoveryRecord expected;
    expected.deviceName = QStringLiteral("Hall 3 box");
    expected.serialNumber = QStringLiteral("87654321");
    expected.channel = 12;
    QCOMPARE(discover(QHostAddress(target)).toHex(' '), expected.toBytes().toHex(' '));
}

void TestUdpSystem::searchReplyCarriesSettingsAndStick()
{
    const QByteArray reply = order(udp_packet::buildUdpPacketFrame(udp_packet::TypeSearch, 0, 0, 0, {}));
    udp_packet packet;
    QVERIFY(udp_packet::parse(reply, &packet));
    QCOMPARE(packet.header.type, quint8(udp_packet::TypeSearch));
    QCOMPARE(int(packet.header.length), reply.size());

    DeviceInfo info;
    QVERIFY(DeviceInfo::fromBytes(packet.payload, &info));
    QCOMPARE(info.name, QStringLiteral("Hall 3"));
    QCOMPARE(info.serial, quint32(87654321));
    QCOMPARE(info.dhcp, quint8(0));
    QCOMPARE(packet.payload.mid(12, 4).toHex(), QByteArray("6e00a8c0")); // ip, after name, serial, dhcp
    QCOMPARE(info.mask, quint8(24));
    QCOMPARE(DeviceInfo::ipv4Text(info.gateway), QStringLiteral("192.168.0.1"));
    QCOMPARE(info.storageSize, QStorageInfo(Box::stickPath()).bytesTotal());
    QVERIFY(info.storageSize > 0);
    QCOMPARE(info.configPresent, quint8(1));
    QCOMPARE(info.channel, quint16(12));
    QCOMPARE(info.password, QStringLiteral("secret"));
}

void TestUdpSystem::badOrUnknownFramesGetNoReply_data()
{
    QTest::addColumn<QByteArray>("frame");
    QByteArray badSearch = udp_packet::buildUdpPacketFrame(udp_packet::TypeSearch, 0, 0, 0, {});
    badSearch[13] = char(badSearch.at(13) ^ 0x01);
    QByteArray badSerial = udp_packet::buildUdpPacketFrame(udp_packet::TypeSetSerial, 0, 0, 0, SerialOrder::payload(1));
    badSerial[20] = 0x7F;
    QTest::newRow("search, bad checksum") << badSearch;
    QTest::newRow("set serial, bad checksum") << badSerial;
    QTest::newRow("unknown type") << udp_packet::buildUdpPacketFrame(5, 0, 0, 0, SerialOrder::payload(1));
    QTest::newRow("short search") << udp_packet::buildUdpPacketFrame(udp_packet::TypeSearch, 0, 0, 0, {}).left(16);
}

void TestUdpSystem::badOrUnknownFramesGetNoReply()
{
    QFETCH(QByteArray, frame);
    const QByteArray settingsBefore = DeviceFiles::readFile(settingsPath);
    QCOMPARE(order(frame, 500), QByteArray());
    QCOMPARE(DeviceFiles::readFile(settingsPath), settingsBefore);
    QVERIFY(!discover(Box::boxAddress()).isEmpty());
}

void TestUdpSystem::setSerialIsStoredAnnouncedAndAcknowledged()
{
    m_centre.clearRequests();
    const QByteArray ack = order(udp_packet::buildUdpPacketFrame(udp_packet::TypeSetSerial, 0, 0, 0,
                                                                 QByteArray::fromHex("00bc614e")));
    QCOMPARE(ack.toHex(' '), udp_packet::buildUdpPacketFrame(udp_packet::TypeAck, 0, 0, 0, {}).toHex(' '));
    QTRY_VERIFY(DeviceFiles::readFile(settingsPath).contains("SN=12345678"));

    QTRY_COMPARE_WITH_TIMEOUT(m_centre.requests(QStringLiteral("GUI.ShowNotification")).size(), 1, 5000);
    const QJsonObject notice = m_centre.requests(QStringLiteral("GUI.ShowNotification")).first().params();
    QCOMPARE(notice.value("title").toString(), QStringLiteral("Numer seryjny"));
    QCOMPARE(notice.value("message").toString(), QStringLiteral("Ustawiono numer seryjny: 12345678"));
    QCOMPARE(notice.value("displaytime").toInt(), 7000);

    DiscoveryRecord record;
    QVERIFY(DiscoveryRecord::fromBytes(discover(Box::boxAddress()), &record));
    QCOMPARE(record.serialNumber, QStringLiteral("12345678"));
}

void TestUdpSystem::udpControlDrivesPlaybackAndBoardIsIgnored()
{
    QScopedPointer<QUdpSocket> controller(Box::peerUdpSocket(0));
    QVERIFY(controller);
    // The control port opens 3000 ms after the serial line; until then nothing echoes.
    const QByteArray stopped = ControlDatagram::build(0, 0, 0, 0);
    QTRY_VERIFY_WITH_TIMEOUT(controller->writeDatagram(stopped, Box::boxAddress(), ControlPort) > 0
                                 && nextDatagram(controller.data(), 200).data() == stopped,
                             20000);
    // The first datagram that got through stopped the player; start counting after its Stop.
    QTRY_VERIFY(transportMethods(m_centre).contains(QStringLiteral("Stop")));
    m_centre.clearRequests();
    m_board.clear();

    const QByteArray playing = ControlDatagram::build(200, 0, 0, 0);
    controller->writeDatagram(playing, Box::boxAddress(), ControlPort);
    QCOMPARE(nextDatagram(controller.data()).data(), playing);
    QTRY_COMPARE(transportMethods(m_centre), QStringList({ "Stop", "Open /media/ZR605/a.mp4" }));

    const QByteArray secondTrack = ControlDatagram::build(200, 5, 0, 0);
    controller->writeDatagram(secondTrack, Box::boxAddress(), ControlPort);
    QTRY_COMPARE(transportMethods(m_centre),
                 QStringList({ "Stop", "Open /media/ZR605/a.mp4", "Stop", "Open /media/ZR605/b.mp4" }));

    // A board "stop" frame is no longer read: no echo to the board, no request to the player.
    m_board.sendOrder(CMD_STOP);
    QVERIFY(!m_board.waitForFrames(1, 1500));
    QCOMPARE(transportMethods(m_centre).size(), 4);
}

void TestUdpSystem::randomFloodChangesNothing()
{
    const QByteArray settingsBefore = DeviceFiles::readFile(settingsPath);
    m_centre.clearRequests();
    QScopedPointer<QUdpSocket> tool(Box::peerUdpSocket(0));
    QVERIFY(tool);
    int discoveryReplies = 0;
    connect(m_discoveryReplies, &QUdpSocket::readyRead, this, [&] {
        while (m_discoveryReplies->hasPendingDatagrams())
            discoveryReplies += m_discoveryReplies->receiveDatagram().data().size() == DiscoveryRecord::Size;
    });
    QElapsedTimer timer;
    timer.start();
    {
        Flood flood(int(tool->socketDescriptor()), { DiscoveryRecord::ServerPort, OrderPort, ControlPort },
                    FloodCount, true);
        QVERIFY(QTest::qWaitFor([&] { return flood.done(); }, 300000));
        QCOMPARE(flood.failed(), 0);
    }
    qInfo("flood: %d random datagrams to each of 3 ports in %lld ms; %d discovery replies came back",
          FloodCount, timer.elapsed(), discoveryReplies);
    QTest::qWait(500);
    disconnect(m_discoveryReplies, &QUdpSocket::readyRead, this, nullptr);

    QVERIFY(m_daemon.isRunning());
    QVERIFY(!discover(Box::boxAddress()).isEmpty());
    QCOMPARE(DeviceFiles::readFile(settingsPath), settingsBefore);
    QCOMPARE(transportMethods(m_centre), QStringList());
}

void TestUdpSystem::discoveryLatencyUnderLoad()
{
    auto probe = [this](QVector<qint64> *latencies, int *lost, int count) {
        for (int i = 0; i < count; ++i) {
            QElapsedTimer timer;
            timer.start();
            if (discover(Box::boxAddress()).isEmpty())
                ++*lost;
            else
                latencies->append(timer.nsecsElapsed() / 1000);
        }
    };
    auto report = [](const char *what, QVector<qint64> latencies, int lost) {
        std::sort(latencies.begin(), latencies.end());
        if (latencies.isEmpty()) {
            qInfo("discovery %s: no reply to any probe", what);
            return;
        }
        qInfo("discovery %s: %d replies, %d lost (1 s limit); latency us: median %lld, p95 %lld, max %lld", what,
              latencies.size(), lost, latencies.at(latencies.size() / 2), latencies.at(latencies.size() * 95 / 100),
              latencies.last());
    };

    QVector<qint64> idle;
    int idleLost = 0;
    probe(&idle, &idleLost, 200);
    report("idle", idle, idleLost);

    QScopedPointer<QUdpSocket> tool(Box::peerUdpSocket(0));
    QVERIFY(tool);
    QVector<qint64> loaded;
    int loadedLost = 0;
    {
        Flood flood(int(tool->socketDescriptor()), { DiscoveryRecord::ServerPort, OrderPort, ControlPort },
                    FloodCount, false);
        while (!flood.done())
            probe(&loaded, &loadedLost, 1);
    }
    report("under flood", loaded, loadedLost);
    QVERIFY(!loaded.isEmpty());
    QVERIFY(!discover(Box::boxAddress()).isEmpty());
}

void TestUdpSystem::controlFloodReachesPlayerInOrder()
{
    QScopedPointer<QUdpSocket> controller(Box::peerUdpSocket(0));
    QVERIFY(controller);
    // From the stopped state: play, pause, stop, again and again. Each datagram changes the
    // state, so each one must reach the player, and in this order.
    const QByteArray cycle[] = { ControlDatagram::build(200, 5, 0, 0), ControlDatagram::build(100, 5, 0, 0),
                                 ControlDatagram::build(0, 5, 0, 0) };
    // Right after a flood the box's socket buffers may still be full and drop a datagram; a
    // repeated copy of the same datagram changes nothing, so send it until it is echoed.
    QTRY_VERIFY_WITH_TIMEOUT(controller->writeDatagram(cycle[2], Box::boxAddress(), ControlPort) > 0
                                 && nextDatagram(controller.data(), 200).isValid(),
                             10000);
    QTest::qWait(600);
    m_centre.clearRequests();

    constexpr int cycles = 300;
    constexpr int batch = 30; // datagrams in flight at once, well within the socket buffer
    QStringList expected;
    int echoes = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 3 * cycles; ++i) {
        controller->writeDatagram(cycle[i % 3], Box::boxAddress(), ControlPort);
        if (i % batch == batch - 1 || i == 3 * cycles - 1) {
            while (echoes <= i && nextDatagram(controller.data()).isValid())
                ++echoes;
        }
    }
    for (int i = 0; i < cycles; ++i)
        expected << "Stop" << "Open /media/ZR605/b.mp4" << "Pause" << "Stop";
    QCOMPARE(echoes, 3 * cycles);
    QTRY_COMPARE_WITH_TIMEOUT(transportMethods(m_centre).size(), expected.size(), 30000);
    qInfo("control flood: %d datagrams echoed and played in %lld ms", 3 * cycles, timer.elapsed());
    QCOMPARE(transportMethods(m_centre), expected);
}

QUORVANT_TEST_MAIN(TestUdpSystem)
#include "tst_udpsystem.moc"
