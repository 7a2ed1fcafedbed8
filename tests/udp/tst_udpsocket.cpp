// The discovery socket on loopback: which datagrams count as requests, and where the reply goes.
#include "link/discoveryrecord.h"
#include "link/udpsocket.h"
#include "tests/support/box.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

class TestUdpSocket : public QObject
{
    Q_OBJECT

private slots:
    void answersRequestsFromPort50002ToPort50003_data();
    void answersRequestsFromPort50002ToPort50003();
};

void TestUdpSocket::answersRequestsFromPort50002ToPort50003_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("answered");
    QTest::newRow("00") << QByteArray(1, '\0') << true;
    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("00 then anything") << QByteArray::fromHex("00ffff") << true;
    QTest::newRow("01") << QByteArray::fromHex("01") << false;
}

void TestUdpSocket::answersRequestsFromPort50002ToPort50003()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, answered);

    UdpSocket discovery;
    connect(&discovery, &UdpSocket::deviceDiscovered, &discovery,
            [&discovery] { discovery.sendPackage("announcement"); });
    QSignalSpy discovered(&discovery, &UdpSocket::deviceDiscovered);
    QUdpSocket replies;
    QVERIFY(replies.bind(QHostAddress::LocalHost, DiscoveryRecord::ReplyPort));
    QUdpSocket tool;
    QVERIFY(tool.bind(QHostAddress(QHostAddress::LocalHost), 0));

    tool.writeDatagram(request, QHostAddress::LocalHost, DiscoveryRecord::ServerPort);
    // A request answered afterwards proves the first datagram was read and judged.
    tool.writeDatagram(DiscoveryRecord::request(), QHostAddress::LocalHost, DiscoveryRecord::ServerPort);
    const int expected = answered ? 2 : 1;
    QTRY_COMPARE_WITH_TIMEOUT(discovered.size(), expected, 10000);
    QTest::qWait(100);
    QCOMPARE(discovered.size(), expected);

    QTRY_VERIFY(replies.hasPendingDatagrams());
    const QNetworkDatagram reply = replies.receiveDatagram();
    QCOMPARE(reply.data(), QByteArray("announcement"));
    QCOMPARE(reply.senderPort(), int(DiscoveryRecord::ServerPort));
    QCOMPARE(QHostAddress(reply.senderAddress().toIPv4Address()), QHostAddress(QHostAddress::LocalHost));
}

QUORVANT_TEST_MAIN(TestUdpSocket)
#include "tst_udpsocket.moc"
