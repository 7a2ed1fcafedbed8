// The real daemon in the box, configured from the tool's host on the same LAN over TCP: every
// request once, random and truncated requests, and many short connections.
#include "link/tcpprotocol.h"
#include "tests/support/box.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QSettings>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

using namespace TcpProtocol;

namespace {

const QByteArray serial = "12345678";

QByteArray digest(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

// The daemon's process id, found by its program in this box's own process table.
qint64 daemonPid()
{
    const QString program = QFileInfo(Box::daemonPath()).canonicalFilePath();
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (isNumber && QFileInfo("/proc/" + entry + "/exe").canonicalFilePath() == program)
            return pid;
    }
    return -1;
}

int openDescriptors(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

QByteArray fileBytes(const QString &path)
{
    return DeviceFiles::readFile(path);
}

} // namespace

class TestTcpSystem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyRequestFromTheToolHost();
    void randomRequestsNeverCrashOrChangeSettings();
    void manyShortConnectionsLeakNothing();

private:
    std::unique_ptr<QTcpSocket> connectFromPeer();
    // Sends one request and waits for one whole reply; false when none came in time.
    bool exchange(QTcpSocket &socket, const QByteArray &request, Reply *reply, int timeoutMs = 5000);
    bool login(QTcpSocket &socket, const QByteArray &password);

    DaemonProcess m_daemon;
};

void TestTcpSystem::initTestCase()
{
    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), {});
    DeviceFiles::writeFile(QStringLiteral("/cfg/settings.cfg"),
                           "[General]\nNAME=Hall\nSN=12345678\nNET_MODE=static\nNET_IP=192.168.77.2\n"
                           "NET_MASK=255.255.255.0\nNET_ROUTE=192.168.77.1\n");
    QVERIFY(m_daemon.start());
    QTRY_VERIFY_WITH_TIMEOUT(connectFromPeer() != nullptr, 20000);
}

void TestTcpSystem::cleanupTestCase()
{
    QVERIFY2(m_daemon.isRunning(), m_daemon.output().constData());
    m_daemon.stop();
}

std::unique_ptr<QTcpSocket> TestTcpSystem::connectFromPeer()
{
    return std::unique_ptr<QTcpSocket>(Box::peerTcpConnect(Box::boxAddress(), TcpProtocol::port));
}

bool TestTcpSystem::exchange(QTcpSocket &socket, const QByteArray &request, Reply *reply, int timeoutMs)
{
    socket.write(request);
    socket.waitForBytesWritten(timeoutMs);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        received += socket.readAll();
        const int used = parseReply(received, reply);
        if (used == ReplyInvalid)
            return false;
        if (used > 0)
            return used == received.size();
        socket.waitForReadyRead(50);
    }
    return false;
}

bool TestTcpSystem::login(QTcpSocket &socket, const QByteArray &password)
{
    Reply reply;
    return exchange(socket, loginRequest(password), &reply) && reply.code == RespLoginAccepted;
}

void TestTcpSystem::everyRequestFromTheToolHost()
{
    DeviceFiles::writeStickConfig("[playlist]\n1\\track=a.mp4\n2\\track=Empty\n3\\track=b.mp4\nsize=3\n");
    DeviceFiles::writeStickFile("a.mp4", "a");
    DeviceFiles::writeStickFile("b.mp4", "b");
    Box::clearCommandLog();
    auto tool = connectFromPeer();
    QVERIFY(tool);
    Reply reply;

    QVERIFY(exchange(*tool, plainRequest(CmdListFiles), &reply));
    QCOMPARE(int(reply.kind), int(Reply::NotLoggedIn));
    QVERIFY(!login(*tool, digest("wrong")));
    QVERIFY(login(*tool, digest(serial)));

    QVERIFY(exchange(*tool, plainRequest(CmdReadNetworkConfiguration), &reply));
    QCOMPARE(reply.network.ip, QByteArray("192.168.77.2"));
    QCOMPARE(reply.network.gw, QByteArray("192.168.77.1"));
    QCOMPARE(int(reply.network.mask), 24);
    QCOMPARE(reply.network.dhcp, false);
    QCOMPARE(reply.serialNumber, serial);

    QVERIFY(exchange(*tool, plainRequest(CmdListFiles), &reply));
    QCOMPARE(reply.files, QStringList({"/media/ZR605/a.mp4", "/media/ZR605/b.mp4", "/media/ZR605/config.ini"}));

    QVERIFY(exchange(*tool, deviceConfigurationRequest(12, 0, "Main stage"), &reply));
    QCOMPARE(reply.code, quint8(RespConfigurationStored));
    QTRY_COMPARE_WITH_TIMEOUT(QSettings("/cfg/settings.cfg", QSettings::IniFormat).value("NAME").toString(),
                              QStringLiteral("Main stage"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(Box::stickPath() + "/config.ini").contains("channel=12"), 5000);

    QVERIFY(exchange(*tool, changePasswordRequest(digest(serial), digest("new")), &reply));
    QCOMPARE(reply.code, quint8(RespPasswordChanged));
    QCOMPARE(fileBytes("/cfg/.zr605_password.txt"), digest("new"));

    tool->write(plainRequest(CmdRemoveFiles));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(Box::stickPath() + "/config.ini"), 5000);
    QVERIFY(!QFile::exists(Box::stickPath() + "/a.mp4"));
    QVERIFY(!QFile::exists(Box::stickPath() + "/b.mp4"));

    QVERIFY(exchange(*tool, plainRequest(CmdRebootWithAck), &reply));
    QCOMPARE(reply.code, quint8(RespRebootAccepted));
    QTRY_COMPARE_WITH_TIMEOUT(Box::commandLog().count("reboot -f"), 1, 5000);
    tool->write(plainRequest(CmdRebootWithoutAck));
    QTRY_COMPARE_WITH_TIMEOUT(Box::commandLog().count("reboot -f"), 2, 5000);

    // A new tool takes over and needs the new password.
    tool = connectFromPeer();
    QVERIFY(tool);
    QVERIFY(!login(*tool, digest(serial)));
    QVERIFY(login(*tool, digest("new")));
    Box::clearCommandLog();
    msgNetworkConfiguration configuration;
    configuration.dhcp = true;
    QVERIFY(exchange(*tool, networkConfigurationRequest(configuration), &reply));
    QCOMPARE(reply.code, quint8(RespNetworkApplied));
    QCOMPARE(fileBytes("/cfg/eth0"), QByteArray("auto eth0\niface eth0 inet dhcp\n"));
    QTRY_COMPARE_WITH_TIMEOUT(Box::commandLog(),
                              QStringList({"ip addr flush dev eth0", "systemctl restart networking", "reboot -f"}), 5000);
}

// Random bytes, random codes with random payloads and truncated well-formed requests, each sent
// as one arrival. The fresh connection may never change anything; the daemon must survive both.
void TestTcpSystem::randomRequestsNeverCrashOrChangeSettings()
{
    constexpr int perConnection = 5000;
    QRandomGenerator random(6);
    const auto randomRequest = [&random] {
        QByteArray bytes(random.bounded(0, 80), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        if (!bytes.isEmpty() && random.bounded(2))
            bytes[0] = char(random.bounded(1, 11));
        return bytes;
    };
    const QByteArray settingsBefore = fileBytes("/cfg/settings.cfg");
    const QByteArray passwordBefore = fileBytes("/cfg/.zr605_password.txt");
    const QByteArray eth0Before = fileBytes("/cfg/eth0");
    QElapsedTimer timer;
    timer.start();
    for (const bool loggedIn : {false, true}) {
        auto tool = connectFromPeer();
        QVERIFY(tool);
        tool->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        for (int i = 0; i < perConnection; ++i) {
            if (loggedIn && i % 50 == 0)
                QVERIFY(login(*tool, fileBytes("/cfg/.zr605_password.txt")));
            QByteArray request = randomRequest();
            if (loggedIn && !request.isEmpty() && (request.at(0) == CmdRebootWithAck || request.at(0) == CmdRebootWithoutAck))
                request[0] = char(CmdReadNetworkConfiguration); // each would start a reboot stand-in
            tool->write(request);
            tool->waitForBytesWritten(1000);
            tool->waitForReadyRead(2);
            tool->readAll();
        }
        if (!loggedIn) {
            QCOMPARE(fileBytes("/cfg/settings.cfg"), settingsBefore);
            QCOMPARE(fileBytes("/cfg/.zr605_password.txt"), passwordBefore);
            QCOMPARE(fileBytes("/cfg/eth0"), eth0Before);
        }
        QVERIFY(m_daemon.isRunning());
    }
    qInfo("%d random requests over TCP in %lld ms", 2 * perConnection, timer.elapsed());
    auto tool = connectFromPeer();
    QVERIFY(tool);
    QVERIFY(login(*tool, fileBytes("/cfg/.zr605_password.txt")));
}

void TestTcpSystem::manyShortConnectionsLeakNothing()
{
    constexpr int cycles = 1000;
    const qint64 pid = daemonPid();
    QVERIFY(pid > 0);
    connectFromPeer().reset(); // the daemon keeps its last client socket object until the next one
    QTest::qWait(200);
    const int descriptorsBefore = openDescriptors(pid);
    const qint64 rssBefore = residentKiB(pid);
    for (int i = 0; i < cycles; ++i) {
        auto tool = connectFromPeer();
        QVERIFY(tool);
        if (i % 2)
            tool->write(plainRequest(CmdListFiles));
        tool->disconnectFromHost();
    }
    QTest::qWait(500);
    auto last = connectFromPeer();
    QVERIFY(last);
    Reply reply;
    QVERIFY(exchange(*last, plainRequest(CmdReadNetworkConfiguration), &reply));
    last.reset();
    QTest::qWait(200);
    const int descriptorsAfter = openDescriptors(pid);
    const qint64 rssAfter = residentKiB(pid);
    qInfo("%d connections: descriptors %d -> %d, RSS %lld KiB -> %lld KiB", cycles, descriptorsBefore,
          descriptorsAfter, rssBefore, rssAfter);
    QCOMPARE(descriptorsAfter, descriptorsBefore);
    QVERIFY2(rssAfter - rssBefore < 2048, "resident memory grew by more than 2 MiB");
}

QUORVANT_TEST_MAIN(TestTcpSystem)
#include "tst_tcpsystem.moc"
