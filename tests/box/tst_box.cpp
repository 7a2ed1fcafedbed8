// The box must look like the device to the daemon; these checks fail loudly when a host change
// breaks that illusion, before the daemon's own tests fail in confusing ways.
#include "tests/support/box.h"

#include <QProcess>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QStorageInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

class TestBox : public QObject
{
    Q_OBJECT

private slots:
    void stickIsReportedByLabel()
    {
        const auto volumes = QStorageInfo::mountedVolumes();
        const auto stick = std::find_if(volumes.cbegin(), volumes.cend(),
                                        [](const QStorageInfo &v) { return v.name() == "ZR605"; });
        QVERIFY(stick != volumes.cend());
        QCOMPARE(stick->rootPath(), Box::stickPath());
    }

    void serialLineCarriesBytesBothWays()
    {
        const auto ports = QSerialPortInfo::availablePorts();
        QVERIFY(std::any_of(ports.cbegin(), ports.cend(),
                            [](const QSerialPortInfo &p) { return p.portName() == "ttyS0"; }));
        QSerialPort daemonEnd(QStringLiteral("ttyS0"));
        QSerialPort boardEnd(QStringLiteral("/dev/board"));
        QVERIFY(daemonEnd.open(QIODevice::ReadWrite));
        QVERIFY(boardEnd.open(QIODevice::ReadWrite));
        const QByteArray frame = QByteArray::fromHex("ff020000fe");
        QByteArray atBoard, atDaemon;
        connect(&boardEnd, &QSerialPort::readyRead, [&] { atBoard += boardEnd.readAll(); });
        connect(&daemonEnd, &QSerialPort::readyRead, [&] { atDaemon += daemonEnd.readAll(); });
        daemonEnd.write(frame);
        QTRY_COMPARE(atBoard, frame);
        boardEnd.write(frame);
        QTRY_COMPARE(atDaemon, frame);
    }

    void standInsRecordAndReturnTheirExitCode_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::newRow("reboot") << "reboot" << QStringList{"-f"} << 0;
        QTest::newRow("mount fails") << "mount" << QStringList{"-o", "remount,rw", "/dev/mmcblk0p2"} << 32;
        QTest::newRow("systemctl") << "systemctl" << QStringList{"restart", "networking"} << 0;
        QTest::newRow("ip") << "ip" << QStringList{"addr", "flush", "dev", "eth0"} << 1;
        QTest::newRow("vcgencmd") << "vcgencmd" << QStringList{"display_power", "0"} << 0;
    }
    void standInsRecordAndReturnTheirExitCode()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        Box::clearCommandLog();
        Box::setExitCode(program, code);
        QCOMPARE(QProcess::execute(program, arguments), code);
        QCOMPARE(Box::commandLog(), QStringList{program + ' ' + arguments.join(' ')});
    }

    void toolHostReachesTheBoxByUnicastAndBroadcast()
    {
        QUdpSocket boxSide;
        QVERIFY(boxSide.bind(QHostAddress::AnyIPv4, 50002));
        QScopedPointer<QUdpSocket> peer(Box::peerUdpSocket(50003));
        QVERIFY(peer);
        peer->writeDatagram("u", Box::boxAddress(), 50002);
        peer->writeDatagram("b", QHostAddress(QStringLiteral("192.168.77.255")), 50002);
        QTRY_COMPARE(boxSide.pendingDatagramSize() >= 0, true);
        QHostAddress sender;
        char byte = 0;
        boxSide.readDatagram(&byte, 1, &sender);
        QCOMPARE(sender, Box::peerAddress());

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::AnyIPv4, 50000));
        QScopedPointer<QTcpSocket> client(Box::peerTcpConnect(Box::boxAddress(), 50000));
        QVERIFY(client);
        QVERIFY(server.waitForNewConnection(5000));
    }
};

QUORVANT_TEST_MAIN(TestBox)
#include "tst_box.moc"
