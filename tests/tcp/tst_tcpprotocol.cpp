// Request and reply layouts of the TCP configuration service, and the network value check.
#include "wire/tcpprotocol.h"

#include <QtTest>

using namespace TcpProtocol;

class TestTcpProtocol : public QObject
{
    Q_OBJECT

private slots:
    void requestLayouts()
    {
        const QByteArray login = "\x01" + QByteArray(32, 'd') + QByteArray(2, 0); // 32-byte field without NUL, 2 unused
        QCOMPARE(loginRequest(QByteArray(32, 'd')), login);
        QCOMPARE(parseRequest(login).password, QByteArray(32, 'd'));
        const QByteArray config = QByteArray("\x02\x05\x00" "Stage left", 13) + QByteArray(23, 0); // channel before type
        QCOMPARE(deviceConfigurationRequest(5, 0, "Stage left"), config);
        QCOMPARE(parseRequest(config).dmxChannel, quint8(5));
        QCOMPARE(parseRequest(config).deviceLabel, QByteArray("Stage left"));
        QCOMPARE(parseRequest(QByteArray("\x02\x01\x00", 3) + QByteArray(34, 'L')).deviceLabel, QByteArray(33, 'L'));
        QCOMPARE(networkConfigurationRequest({"10.0.0.7", "10.0.0.1", 24, false, "1234", 0x15B3}),
                 QByteArray("\x05" "\x08" "10.0.0.7" "\x08" "10.0.0.1" // code, ip, gateway
                            "\x18\x00" "1234\0\0\0\0" "\x15\xB3", 31));  // prefix, dhcp, 8-byte serial, port
        const QByteArray password = changePasswordRequest("old", QByteArray(40, 'n'));
        QCOMPARE(password, "\x06" "old" + QByteArray(29, 0) + QByteArray(32, 'n')); // too long is cut, never shifted
        QCOMPARE(parseRequest(password).newPassword, QByteArray(32, 'n'));
    }

    void shortRequestsReadMissingFieldsAsZero_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("ip");
        QTest::addColumn<QByteArray>("gw");
        QTest::addColumn<int>("mask");
        QTest::newRow("code only") << QByteArray("\x05", 1) << QByteArray() << QByteArray() << 0;
        QTest::newRow("ip length 0") << QByteArray("\x05\x00\x03" "1.2\x10", 7) << QByteArray() << QByteArray("1.2") << 16;
        QTest::newRow("ip cut short") << QByteArray("\x05\x09" "10.0", 6) << QByteArray("10.0") << QByteArray() << 0;
        QTest::newRow("NUL inside ip") << QByteArray("\x05\x04" "1\0" "23\x00\x08", 8) << QByteArray("1") << QByteArray() << 8;
    }

    void shortRequestsReadMissingFieldsAsZero()
    {
        QFETCH(QByteArray, wire);
        const msgNetworkConfiguration net = parseRequest(wire).network;
        QTEST(net.ip, "ip");
        QTEST(net.gw, "gw");
        QTEST(int(net.mask), "mask");
        QVERIFY(!net.dhcp);
    }

    void replyLayouts()
    {
        QCOMPARE(responseReply(RespConfigurationStored, "123"), QByteArray("\x03\x07" "123\0\0\0\0\0", 10));
        QCOMPARE(responseReply(RespLoginAccepted, "1234567890"), QByteArray("\x03\x01" "12345678"));
        QCOMPARE(networkConfigurationReply({"192.168.77.2", "", 24, true, "0000000042", 5555}),
                 QByteArray("\x02" "\x0C" "192.168.77.2\x00" // ip, empty gateway
                            "\x18\x01" "0000000042"         // prefix, dhcp as 1, every serial byte
                            "\x15\xB3", 29));               // port
        const QStringList paths{"/media/ZR605/a.mp4", QString::fromUtf8("/media/ZR605/żółw.mp3")};
        QByteArray files("\x03\x06" "12345678", 10);
        QDataStream(&files, QIODevice::Append) << qint32(2) << paths.at(0).toUtf8() << paths.at(1).toUtf8();
        QCOMPARE(fileListReply("12345678", paths), files);
        Reply reply; // the tool's side: a reply's bytes, not what follows them
        QCOMPARE(parseReply(files + "\x01", &reply), files.size());
        QCOMPARE(reply.files, paths);
    }

    // Every reply cut short asks for more bytes; a reply that cannot be one is refused.
    void cutShortRepliesAreIncomplete()
    {
        const QList<QByteArray> replies{ notLoggedInReply(), responseReply(RespLoginAccepted, "12345678"),
                                         networkConfigurationReply({ "10.0.0.7", "", 24, true, "12345678", 5555 }),
                                         fileListReply("12345678", { "/media/ZR605/a.mp4", "" }) };
        Reply reply;
        for (const QByteArray &bytes : replies) {
            QCOMPARE(parseReply(bytes, &reply), bytes.size());
            for (int size = 0; size < bytes.size(); ++size)
                QCOMPARE(parseReply(bytes.left(size), &reply), ReplyIncomplete);
        }
        for (const QByteArray &bytes : { QByteArray("\x01\x0B", 2), QByteArray("\x07\x01", 2),
                                         QByteArray("\x03\x06" "12345678" "\xFF\xFF\xFF\xFF", 14) })
            QCOMPARE(parseReply(bytes, &reply), ReplyInvalid);
    }

    void networkValidation()
    {
        QVERIFY(isAcceptableNetworkConfiguration("192.168.1.20", "0.0.0.0", 32, false));
        QVERIFY(isAcceptableNetworkConfiguration("", "", 0, true)); // a tool switching to DHCP may send no address
        const QList<QByteArray> malformed{"", "10.0.0.256", "10.0.1", "10.0.0.010", "10.0.0.+1", "10.0.0.1\nup reboot", "a.b.c.d"};
        for (const QByteArray &address : malformed)
            QVERIFY2(!isAcceptableNetworkConfiguration(address, "10.0.0.1", 8, false), address.constData());
        QVERIFY(!isAcceptableNetworkConfiguration("10.0.0.2", "10.0.0.1", 33, true));
    }
};

QTEST_GUILESS_MAIN(TestTcpProtocol)
#include "tst_tcpprotocol.moc"
