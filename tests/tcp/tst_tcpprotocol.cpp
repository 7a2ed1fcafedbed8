#include "link/tcpprotocol.h"
#include "tests/support/box.h"

#include <QDataStream>
#include <QtTest>

using namespace TcpProtocol;

class TestTcpProtocol : public QObject
{
    Q_OBJECT

private slots:
    void loginLayout();
    void deviceConfigurationCarriesChannelBeforeFileType();
    void networkConfigurationRequestLayout();
    void changePasswordLayout();
    void shortRequestsReadMissingFieldsAsZero_data();
    void shortRequestsReadMissingFieldsAsZero();
    void otherShortRequests();
    void fieldsWithoutNulKeepTheirWholeWidth();
    void textStopsAtFirstNul();
    void responseReplyPadsOrCutsSerial_data();
    void responseReplyPadsOrCutsSerial();
    void networkConfigurationReplyLayout();
    void fileListReplyUsesStreamByteArrays();
    void repliesParseBackOnlyWhenComplete_data();
    void repliesParseBackOnlyWhenComplete();
    void unknownReplyTypeIsInvalid();
    void networkConfigurationValidation_data();
    void networkConfigurationValidation();
};

void TestTcpProtocol::loginLayout()
{
    const QByteArray digest = "0123456789abcdef0123456789abcdef";
    QByteArray expected;
    expected += '\x01';         // code: login
    expected += digest;         // password field, 32 bytes, no room for a NUL
    expected += QByteArray(2, 0); // two trailing bytes, read and unused
    QCOMPARE(loginRequest(digest), expected);
    QCOMPARE(parseRequest(expected).password, digest);
}

void TestTcpProtocol::deviceConfigurationCarriesChannelBeforeFileType()
{
    QByteArray wire;
    wire += '\x02';                 // code: store device configuration
    wire += '\x05';                 // dmx channel
    wire += '\x00';                 // file type
    wire += "Stage left";           // label, ten characters
    wire += QByteArray(23, 0);      // NUL padding to 33 bytes
    QCOMPARE(deviceConfigurationRequest(5, 0, "Stage left"), wire);
    const Request request = parseRequest(wire);
    QCOMPARE(request.code, quint8(CmdStoreDeviceConfiguration));
    QCOMPARE(request.dmxChannel, quint8(5));
    QCOMPARE(request.fileType, quint8(0));
    QCOMPARE(request.deviceLabel, QByteArray("Stage left"));
}

void TestTcpProtocol::networkConfigurationRequestLayout()
{
    msgNetworkConfiguration configuration;
    configuration.ip = "10.0.0.7";
    configuration.gw = "10.0.0.1";
    configuration.mask = 24;
    configuration.dhcp = false;
    configuration.serialNumber = "1234";
    configuration.port = 0x15B3;
    QByteArray wire;
    wire += '\x05';                       // code: write network configuration
    wire += '\x08'; wire += "10.0.0.7";   // ip length, ip
    wire += '\x08'; wire += "10.0.0.1";   // gateway length, gateway
    wire += '\x18';                       // prefix length 24
    wire += '\x00';                       // dhcp false
    wire += QByteArray("1234\0\0\0\0", 8); // serial, 8 bytes
    wire += "\x15\xB3";                   // port, big-endian
    QCOMPARE(networkConfigurationRequest(configuration), wire);
    const Request request = parseRequest(wire);
    QCOMPARE(request.network.ip, configuration.ip);
    QCOMPARE(request.network.gw, configuration.gw);
    QCOMPARE(request.network.mask, quint8(24));
    QCOMPARE(request.network.dhcp, false);
    QCOMPARE(request.network.port, quint16(0x15B3));
}

void TestTcpProtocol::changePasswordLayout()
{
    const QByteArray wire = changePasswordRequest("old", "new");
    QCOMPARE(wire.size(), 1 + 32 + 32);
    QCOMPARE(wire.at(0), char(CmdChangePassword));
    QCOMPARE(wire.mid(1, 32), QByteArray("old") + QByteArray(29, 0));
    QCOMPARE(wire.mid(33, 32), QByteArray("new") + QByteArray(29, 0));
    const Request request = parseRequest(wire);
    QCOMPARE(request.oldPassword, QByteArray("old"));
    QCOMPARE(request.newPassword, QByteArray("new"));
}

void TestTcpProtocol::shortRequestsReadMissingFieldsAsZero_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<QByteArray>("gw");
    QTest::addColumn<int>("mask");
    QTest::addColumn<bool>("dhcp");
    QTest::newRow("code only") << QByteArray("\x05", 1) << QByteArray() << QByteArray() << 0 << false;
    QTest::newRow("ip length 0") << QByteArray("\x05\x00\x03" "1.2\x10\x01", 8)
                                 << QByteArray() << QByteArray("1.2") << 16 << true;
    QTest::newRow("ip cut short") << QByteArray("\x05\x09" "10.0", 6) << QByteArray("10.0") << QByteArray() << 0 << false;
    QTest::newRow("ends after gateway") << QByteArray("\x05\x01" "a" "\x01" "b", 5)
                                        << QByteArray("a") << QByteArray("b") << 0 << false;
    QTest::newRow("NUL inside ip") << QByteArray("\x05\x04" "1\0" "23" "\x00\x08", 8)
                                   << QByteArray("1") << QByteArray() << 8 << false;
}

void TestTcpProtocol::shortRequestsReadMissingFieldsAsZero()
{
    QFETCH(QByteArray, wire);
    const Request request = parseRequest(wire);
    QCOMPARE(request.code, quint8(CmdWriteNetworkConfiguration));
    QFETCH(QByteArray, ip);
    QFETCH(QByteArray, gw);
    QFETCH(int, mask);
    QFETCH(bool, dhcp);
    QCOMPARE(request.network.ip, ip);
    QCOMPARE(request.network.gw, gw);
    QCOMPARE(int(request.network.mask), mask);
    QCOMPARE(request.network.dhcp, dhcp);
}

void TestTcpProtocol::otherShortRequests()
{
    const Request shortLogin = parseRequest(QByteArray("\x01" "abc", 4));
    QCOMPARE(shortLogin.password, QByteArray("abc"));
    const Request shortConfig = parseRequest(QByteArray("\x02\x07", 2));
    QCOMPARE(shortConfig.dmxChannel, quint8(7));
    QCOMPARE(shortConfig.fileType, quint8(0));
    QVERIFY(shortConfig.deviceLabel.isEmpty());
}

void TestTcpProtocol::fieldsWithoutNulKeepTheirWholeWidth()
{
    const QByteArray label(33, 'L');
    QByteArray wire = QByteArray("\x02\x01\x00", 3) + label + "trailing junk";
    QCOMPARE(parseRequest(wire).deviceLabel, label);

    const QByteArray password(32, 'p');
    wire = QByteArray("\x01", 1) + password + "xyz";
    QCOMPARE(parseRequest(wire).password, password);

    // Builders cut what does not fit instead of shifting the following fields.
    QCOMPARE(deviceConfigurationRequest(1, 0, QByteArray(40, 'n')).size(), 1 + 1 + 1 + 33);
    QCOMPARE(loginRequest(QByteArray(40, 'p')).size(), 1 + 32 + 2);
}

void TestTcpProtocol::textStopsAtFirstNul()
{
    QCOMPARE(textUpToNul(QByteArray("ab\0cd", 5)), QByteArray("ab"));
    QCOMPARE(textUpToNul(QByteArray("\0ab", 3)), QByteArray());
    QCOMPARE(textUpToNul("abc"), QByteArray("abc"));
}

void TestTcpProtocol::responseReplyPadsOrCutsSerial_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QByteArray>("serialField");
    QTest::newRow("eight digits") << QByteArray("12345678") << QByteArray("12345678");
    QTest::newRow("shorter") << QByteArray("123") << QByteArray("123\0\0\0\0\0", 8);
    QTest::newRow("longer") << QByteArray("1234567890") << QByteArray("12345678");
    QTest::newRow("empty") << QByteArray() << QByteArray(8, 0);
}

void TestTcpProtocol::responseReplyPadsOrCutsSerial()
{
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, serialField);
    QByteArray expected;
    expected += '\x03';   // reply: response
    expected += '\x07';   // code: configuration stored
    expected += serialField;
    QCOMPARE(responseReply(RespConfigurationStored, serial), expected);
    QCOMPARE(notLoggedInReply(), QByteArray("\x01\x0C", 2));
}

void TestTcpProtocol::networkConfigurationReplyLayout()
{
    msgNetworkConfiguration configuration;
    configuration.ip = "192.168.77.2";
    configuration.gw = "192.168.77.1";
    configuration.mask = 24;
    configuration.dhcp = true;
    configuration.serialNumber = "0000000042"; // every byte, no length
    configuration.port = 5555;
    QByteArray expected;
    expected += '\x02';                        // reply: network configuration
    expected += '\x0C'; expected += "192.168.77.2";
    expected += '\x0C'; expected += "192.168.77.1";
    expected += '\x18';                        // prefix 24
    expected += '\x01';                        // dhcp true, written as 1
    expected += "0000000042";                  // serial number, all ten bytes
    expected += "\x15\xB3";                    // 5555 big-endian
    QCOMPARE(networkConfigurationReply(configuration), expected);
}

void TestTcpProtocol::fileListReplyUsesStreamByteArrays()
{
    const QStringList paths{"/media/ZR605/a.mp4", QString::fromUtf8("/media/ZR605/żółw.mp3"), "/media/ZR605/config.ini"};
    QByteArray expected("\x03\x06" "12345678", 10);
    QDataStream stream(&expected, QIODevice::Append);
    stream << qint32(paths.size());
    for (const QString &path : paths)
        stream << path.toUtf8();
    QCOMPARE(fileListReply("12345678", paths), expected);
}

void TestTcpProtocol::repliesParseBackOnlyWhenComplete_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("kind");
    msgNetworkConfiguration configuration;
    configuration.ip = "10.1.1.1";
    configuration.serialNumber = "87654321";
    configuration.port = 7000;
    QTest::newRow("response") << responseReply(RespLoginAccepted, "87654321") << int(Reply::Response);
    QTest::newRow("not logged in") << notLoggedInReply() << int(Reply::NotLoggedIn);
    QTest::newRow("network") << networkConfigurationReply(configuration) << int(Reply::NetworkConfiguration);
    QTest::newRow("file list") << fileListReply("87654321", {"/media/ZR605/x", "/media/ZR605/config.ini"})
                               << int(Reply::FileList);
    QTest::newRow("empty file list") << fileListReply("87654321", {}) << int(Reply::FileList);
}

void TestTcpProtocol::repliesParseBackOnlyWhenComplete()
{
    QFETCH(QByteArray, wire);
    QFETCH(int, kind);
    Reply reply;
    for (int cut = 0; cut < wire.size(); ++cut)
        QVERIFY2(parseReply(wire.left(cut), &reply) == ReplyIncomplete, qPrintable(QString::number(cut)));
    QCOMPARE(parseReply(wire + "next reply", &reply), wire.size());
    QCOMPARE(int(reply.kind), kind);
    if (kind == Reply::FileList && wire.size() > 14)
        QCOMPARE(reply.files, QStringList({"/media/ZR605/x", "/media/ZR605/config.ini"}));
    if (kind == Reply::NetworkConfiguration) {
        QCOMPARE(reply.network.ip, QByteArray("10.1.1.1"));
        QCOMPARE(reply.network.port, quint16(7000));
    }
    if (kind != Reply::NotLoggedIn)
        QCOMPARE(reply.serialNumber, QByteArray("87654321"));
}

void TestTcpProtocol::unknownReplyTypeIsInvalid()
{
    Reply reply;
    QCOMPARE(parseReply(QByteArray("\x09\x01", 2), &reply), ReplyInvalid);
    QCOMPARE(parseReply(QByteArray("\x01\x05", 2), &reply), ReplyInvalid);
    QCOMPARE(parseReply(QByteArray("\x03\x06" "12345678\xFF\xFF\xFF\xFF", 14), &reply), ReplyInvalid);
}

void TestTcpProtocol::networkConfigurationValidation_data()
{
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<QByteArray>("gw");
    QTest::addColumn<int>("mask");
    QTest::addColumn<bool>("dhcp");
    QTest::addColumn<bool>("acceptable");
    QTest::newRow("static") << QByteArray("192.168.1.20") << QByteArray("192.168.1.1") << 24 << false << true;
    QTest::newRow("edges") << QByteArray("0.0.0.0") << QByteArray("255.255.255.255") << 32 << false << true;
    QTest::newRow("dhcp without addresses") << QByteArray() << QByteArray() << 0 << true << true;
    QTest::newRow("static without address") << QByteArray() << QByteArray("10.0.0.1") << 8 << false << false;
    QTest::newRow("prefix 33") << QByteArray("10.0.0.2") << QByteArray("10.0.0.1") << 33 << false << false;
    QTest::newRow("dhcp prefix 200") << QByteArray() << QByteArray() << 200 << true << false;
    QTest::newRow("octet 256") << QByteArray("10.0.0.256") << QByteArray("10.0.0.1") << 8 << false << false;
    QTest::newRow("three parts") << QByteArray("10.0.1") << QByteArray("10.0.0.1") << 8 << false << false;
    QTest::newRow("five parts") << QByteArray("10.0.0.1.5") << QByteArray("10.0.0.1") << 8 << false << false;
    QTest::newRow("empty part") << QByteArray("10..0.1") << QByteArray("10.0.0.1") << 8 << false << false;
    QTest::newRow("leading zero") << QByteArray("10.0.0.010") << QByteArray("10.0.0.1") << 8 << false << false;
    QTest::newRow("sign") << QByteArray("10.0.0.+1") << QByteArray("10.0.0.1") << 8 << false << false;
    QTest::newRow("blank") << QByteArray("10.0.0.1 ") << QByteArray("10.0.0.1") << 8 << false << false;
    QTest::newRow("injected line") << QByteArray("10.0.0.2") << QByteArray("10.0.0.1\nup rm -rf /") << 8 << false << false;
    QTest::newRow("dhcp with junk gateway") << QByteArray() << QByteArray("gateway") << 24 << true << false;
    QTest::newRow("host name") << QByteArray("box.local") << QByteArray("10.0.0.1") << 8 << false << false;
}

void TestTcpProtocol::networkConfigurationValidation()
{
    QFETCH(QByteArray, ip);
    QFETCH(QByteArray, gw);
    QFETCH(int, mask);
    QFETCH(bool, dhcp);
    QFETCH(bool, acceptable);
    QCOMPARE(isAcceptableNetworkConfiguration(ip, gw, quint8(mask), dhcp), acceptable);
}

QUORVANT_TEST_MAIN(TestTcpProtocol)
#include "tst_tcpprotocol.moc"
