// The real daemon in the box, configured over TCP from the tool's host on the same LAN.
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"
#include "tests/tcp/tcptestclient.h"

#include <QDir>

using namespace TcpProtocol;
using namespace TcpTest;

class TestTcpSystem : public QObject
{
    Q_OBJECT

    DaemonProcess m_daemon;

private slots:
    void everyRequestFromTheToolHost()
    {
        DeviceFiles::writeFile("/forcefsck", {});
        DeviceFiles::writeFile("/cfg/settings.cfg", "[General]\nSN=12345678\nNET_MODE=static\nNET_IP=192.168.77.2\n"
                                                    "NET_MASK=255.255.255.0\nNET_ROUTE=192.168.77.1\n");
        DeviceFiles::writeStickConfig("[playlist]\n1\\track=a.mp4\nsize=1\n");
        DeviceFiles::writeStickFile("a.mp4", "a");
        QVERIFY(m_daemon.start());
        std::unique_ptr<QTcpSocket> tool;
        QTRY_VERIFY_WITH_TIMEOUT((tool = connectClient(true)) != nullptr, 20000);
        const auto reply = [&tool](const QByteArray &request, int size) { return exchange(*tool, request, size); };
        const auto response = [](quint8 code) { return responseReply(code, "12345678"); };

        QCOMPARE(reply(plainRequest(CmdListFiles), 2), QByteArray("\x01\x0C", 2));
        QCOMPARE(reply(loginRequest(digest("12345678")), 10), response(RespLoginAccepted)); // default: MD5 of the serial
        QCOMPARE(reply(plainRequest(CmdReadNetworkConfiguration), 39),
                 networkConfigurationReply({ "192.168.77.2", "192.168.77.1", 24, false, "12345678", 0 }));
        const QByteArray files = fileListReply("12345678", { "/media/ZR605/a.mp4", "/media/ZR605/config.ini" });
        QCOMPARE(reply(plainRequest(CmdListFiles), files.size()), files);
        QCOMPARE(reply(deviceConfigurationRequest(12, 0, "Main stage"), 10), response(RespConfigurationStored));
        QCOMPARE(reply(changePasswordRequest(digest("12345678"), digest("new")), 10), response(RespPasswordChanged));
        QCOMPARE(reply(plainRequest(CmdRemoveFiles), 0), QByteArray());
        QCOMPARE(QDir(Box::stickPath()).entryList(QDir::Files), QStringList());
        Box::clearCommandLog();
        QCOMPARE(reply(plainRequest(CmdRebootWithAck), 10), response(RespRebootAccepted));
        QCOMPARE(reply(plainRequest(CmdRebootWithoutAck), 0), QByteArray());
        QTRY_COMPARE(Box::commandLog(), QStringList({ "reboot -f", "reboot -f" }));

        tool = connectClient(true); // a new tool takes over and needs the new password
        QCOMPARE(reply(loginRequest(digest("new")), 10), response(RespLoginAccepted));
        Box::clearCommandLog();
        QCOMPARE(reply(networkConfigurationRequest({ "", "", 0, true, "", 0 }), 10), response(RespNetworkApplied));
        QCOMPARE(DeviceFiles::readFile("/cfg/eth0"), QByteArray("auto eth0\niface eth0 inet dhcp\n"));
        QTRY_COMPARE(Box::commandLog(), QStringList({ "ip addr flush dev eth0", "systemctl restart networking", "reboot -f" }));
    }

    void manyShortConnectionsLeakNothing()
    {
        QString fds; // the daemon's descriptors, in this box's own process table
        for (const QString &pid : QDir("/proc").entryList(QDir::Dirs))
            if (QFileInfo("/proc/" + pid + "/exe").canonicalFilePath() == QFileInfo(Box::daemonPath()).canonicalFilePath())
                fds = "/proc/" + pid + "/fd";
        const int before = QDir(fds).entryList(QDir::System).size();
        for (int i = 0; i < 1000; ++i) {
            auto tool = connectClient(true);
            QVERIFY(tool);
            if (i % 2)
                tool->write(loginRequest(digest("new")));
        }
        // A few descriptors come and go (the media centre link retries); a leak would keep hundreds.
        QTRY_VERIFY_WITH_TIMEOUT(QDir(fds).entryList(QDir::System).size() < before + 10, 20000);
        QVERIFY(m_daemon.isRunning());
    }
};

QUORVANT_TEST_MAIN(TestTcpSystem)
#include "tst_tcpsystem.moc"
