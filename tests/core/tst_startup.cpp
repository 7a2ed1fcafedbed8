// Start-up of the real daemon: the forced file-system check, the stale log, the silence after the
// message handler is installed, a stick configuration far too large to read, a read-only stick that
// must not make the box reboot at every start, and the network configuration after a kill in the
// middle of a change.

#include <QCryptographicHash>
#include <QtTest>

#include "link/deviceinfo.h"
#include "link/tcpprotocol.h"
#include "link/udppacket.h"
#include "tests/support/ctlprocess.h"
#include "tests/support/fakemediacentre.h"
#include "tests/support/testmain.h"
#include "tools/standins/daemonprocess.h"
#include "tools/standins/devicefiles.h"

#include <QJsonArray>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <memory>
#include <sys/mount.h>

namespace {

const QString settingsPath = QStringLiteral("/cfg/settings.cfg");
const QString staleLog = QStringLiteral("/tmp/.__zr605_log__.log");

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Box::clearCommandLog();
        DeviceFiles::writeFile(settingsPath, "[General]\nNET_MODE=dhcp\n");
    }

    void fileSystemCheckIsForcedOnlyWithoutMarker_data()
    {
        QTest::addColumn<bool>("markerPresent");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("marker absent") << false << QStringList{"mount -o remount,rw /dev/mmcblk0p2", "reboot -f"};
        QTest::newRow("marker present") << true << QStringList{};
    }

    void fileSystemCheckIsForcedOnlyWithoutMarker()
    {
        QFETCH(bool, markerPresent);
        DeviceFiles::removeFile("/forcefsck");
        if (markerPresent)
            DeviceFiles::writeFile("/forcefsck", {});
        DeviceFiles::writeFile(staleLog, "old run\n");

        DaemonProcess daemon;
        QVERIFY(daemon.start());
        // With DHCP on, the last start-up step copies the live address into the settings.
        QTRY_VERIFY_WITH_TIMEOUT(DeviceFiles::readFile(settingsPath).contains("NET_IP=192.168.77.2"), 20000);
        QVERIFY(daemon.isRunning());
        QTEST(Box::commandLog(), "commands");
        QVERIFY(QFile::exists("/forcefsck"));
        QVERIFY(!QFile::exists(staleLog));
        daemon.stop();
        // Only the lines before the handler is installed reach the default output.
        QCOMPARE(QString::fromUtf8(daemon.output()).split('\n', Qt::SkipEmptyParts),
                 (QStringList{"Create log file", "Start application", "Install message handler"}));
    }

    // 150 MB of short keys: every reader takes the file as damaged instead of spending seconds and
    // gigabytes on it. The search reply shows a present stick configuration with nothing set, and the
    // file list holds config.ini alone.
    void oversizedStickConfigIsNotRead()
    {
        DeviceFiles::writeFile("/forcefsck", {});
        DeviceFiles::writeFile("/cfg/.zr605_password.txt", QCryptographicHash::hash("secret", QCryptographicHash::Md5).toHex());
        QCOMPARE(::mount(nullptr, "/media/ZR605", nullptr, MS_REMOUNT, "size=256m"), 0);
        QFile config(QStringLiteral("/media/ZR605/config.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        QByteArray lines = "channel=7\nlanguage=1\nudpcontrol=true\n[playlist]\nsize=1\n1\\track=a.mp4\n";
        for (int block = 0; config.size() < 150 * 1000 * 1000; ++block, lines.clear()) {
            for (int i = 0; i < 100000; ++i)
                lines += 'k' + QByteArray::number(block * 100000 + i) + "=1\n";
            QVERIFY(config.write(lines) == lines.size());
        }
        config.close();

        QElapsedTimer clock;
        clock.start();
        DaemonProcess daemon;
        QVERIFY(daemon.start());
        QTcpSocket client;
        QVERIFY(QTest::qWaitFor([&] {
            client.abort();
            client.connectToHost(QStringLiteral("192.168.77.2"), TcpProtocol::port);
            return client.waitForConnected(100);
        }, 30000));
        const qint64 portOpenMs = clock.elapsed();

        std::unique_ptr<QUdpSocket> tool(Box::peerUdpSocket(0));
        QVERIFY(tool);
        tool->writeDatagram(udp_packet::buildUdpPacketFrame(udp_packet::TypeSearch, 0, 0, 0, {}), Box::boxAddress(), 50555);
        QVERIFY(tool->waitForReadyRead(10000));
        udp_packet reply;
        DeviceInfo info;
        QVERIFY(udp_packet::parse(tool->receiveDatagram().data(), &reply) && DeviceInfo::fromBytes(reply.payload, &info));
        const CtlProcess::Result files = CtlProcess::run({"files", "192.168.77.2", "--password", "secret", "--json"});
        const qint64 rss = daemon.rssKiB();
        qInfo("150 MB config.ini: TCP port open after %lld ms, RSS %lld KiB after a search and a file list", portOpenMs, rss);
        QVERIFY(portOpenMs < 5000);
        QVERIFY(rss < 64 * 1024);
        QCOMPARE(int(info.configPresent), 1);
        QCOMPARE(int(info.channel), 1);
        QVERIFY2(files.json()["files"].toArray() == QJsonArray{"/media/ZR605/config.ini"}, files.out + files.err);
        DeviceFiles::removeFile(config.fileName());
    }
};

QUORVANT_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
