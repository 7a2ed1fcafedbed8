// The box must look like the device to the daemon; these checks fail loudly when a host change
// breaks that illusion, before the daemon's own tests fail in confusing ways.
#include "tests/support/testmain.h"

#include <QNetworkDatagram>
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
        QStringList labelled;
        for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
            if (volume.name() == "ZR605")
                labelled << volume.rootPath();
        QCOMPARE(labelled, QStringList{Box::stickPath()});
    }

    void serialLineCarriesBytesBothWays()
    {
        QStringList ports;
        for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
            ports << port.systemLocation();
        QVERIFY2(ports.contains("/dev/ttyS0"), qPrintable(ports.join(' ')));
        QSerialPort daemonEnd(QStringLiteral("ttyS0")), boardEnd(QStringLiteral("/dev/board"));
        QVERIFY(daemonEnd.open(QIODevice::ReadWrite) && boardEnd.open(QIODevice::ReadWrite));
        QByteArray atBoard, atDaemon;
        connect(&boardEnd, &QSerialPort::readyRead, [&] { atBoard += boardEnd.readAll(); });
        connect(&daemonEnd, &QSerialPort::readyRead, [&] { atDaemon += daemonEnd.readAll(); });
        daemonEnd.write("\xff\x02\x00\x00\xfe", 5);
        boardEnd.write("\xff\x0c\x00\x00\xfe", 5);
        QTRY_COMPARE(atBoard, QByteArray("\xff\x02\x00\x00\xfe", 5));
        QTRY_COMPARE(atDaemon, QByteArray("\xff\x0c\x00\x00\xfe", 5));
    }

    void standInsRecordAndReturnTheirExitCode()
    {
        const QStringList commands{"reboot -f", "mount -o remount,rw /dev/mmcblk0p2", "systemctl restart networking",
                                   "ip addr flush dev eth0", "vcgencmd display_power 0"};
        for (int code = 0; code < commands.size(); ++code) {
            QStringList arguments = commands[code].split(' ');
            const QString program = arguments.takeFirst();
            Box::clearCommandLog();
            Box::setExitCode(program, code);
            QCOMPARE(QProcess::execute(program, arguments), code);
            QCOMPARE(Box::commandLog(), QStringList{commands[code]});
        }
    }

    void toolHostReachesTheBoxByUnicastAndBroadcast()
    {
        QUdpSocket boxSide;
        QVERIFY(boxSide.bind(QHostAddress::AnyIPv4, 50002));
        QScopedPointer<QUdpSocket> toolHost(Box::peerUdpSocket(50003));
        QVERIFY(toolHost);
        toolHost->writeDatagram("unicast", Box::boxAddress(), 50002);
        toolHost->writeDatagram("broadcast", QHostAddress(QStringLiteral("192.168.77.255")), 50002);
        QStringList received; // "sender payload"
        connect(&boxSide, &QUdpSocket::readyRead, [&] {
            while (boxSide.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = boxSide.receiveDatagram();
                received << datagram.senderAddress().toString() + ' ' + datagram.data();
            }
        });
        QTRY_COMPARE(received.size(), 2);
        received.sort();
        const QString peer = Box::peerAddress().toString();
        QCOMPARE(received, (QStringList{peer + " broadcast", peer + " unicast"}));
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::AnyIPv4, 50000));
        QScopedPointer<QTcpSocket> client(Box::peerTcpConnect(Box::boxAddress(), 50000));
        QVERIFY(client);
        QVERIFY(server.waitForNewConnection(5000));
    }
};

QUORVANT_TEST_MAIN(TestBox)
#include "tst_box.moc"
