#include "link/connectionmanager.h"
#include "link/dmxserialport.h"
#include "link/tcpprotocol.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSettings>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

using namespace TcpProtocol;

namespace {

const QByteArray serial = "12345678";
const QString passwordFile = QStringLiteral("/cfg/.zr605_password.txt");
const QString interfaceFile = QStringLiteral("/cfg/eth0");

QByteArray digest(const QByteArray &password)
{
    return QCryptographicHash::hash(password, QCryptographicHash::Md5).toHex();
}

QByteArray receive(QTcpSocket &client, int count, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (client.bytesAvailable() < count && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    return client.readAll();
}

QByteArray receiveNothing(QTcpSocket &client)
{
    QTest::qWait(300);
    return client.readAll();
}

QVariant setting(const QString &key)
{
    return QSettings(QStringLiteral("/cfg/settings.cfg"), QSettings::IniFormat).value(key);
}

const QMap<QString, QVariant> staticNetwork{
    {"SN", serial}, {"NAME", "Box one"}, {"NET_MODE", "static"}, {"NET_IP", "192.168.77.2"},
    {"NET_MASK", "255.255.255.0"}, {"NET_ROUTE", "192.168.77.1"}};

} // namespace

class TestTcpHandlers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void login_data();
    void login();
    void networkReadReplyBytes();
    void networkWriteAppliesThenRestartsAndReboots_data();
    void networkWriteAppliesThenRestartsAndReboots();
    void malformedNetworkValuesChangeNothing_data();
    void malformedNetworkValuesChangeNothing();
    void unwritableInterfaceFileGivesNoReply();
    void passwordChange_data();
    void passwordChange();
    void passwordThatCannotBeStoredIsRefused();
    void channelAndNameStoredAndChannelSentToBoard();
    void otherFileTypesAreIgnored();
    void fileList_data();
    void fileList();
    void removeRequestClearsTheStick();
    void reboot_data();
    void reboot();

private:
    std::unique_ptr<QTcpSocket> connectClient();
    std::unique_ptr<QTcpSocket> loggedInClient();

    BoardPort m_board;
    std::unique_ptr<QTcpSocket> m_client;
};

void TestTcpHandlers::initTestCase()
{
    DeviceFiles::writeSettings(staticNetwork);
    DeviceFiles::writeFile(passwordFile, digest("secret"));
    DeviceFiles::writeStickConfig("[General]\nchannel=1\n");
    QVERIFY(m_board.open());
    ConnectionManager *hub = ConnectionManager::getInstance();
    auto *port = hub->findChild<DmxSerialPort *>();
    QVERIFY(port);
    QVERIFY(port->open());
}

void TestTcpHandlers::init()
{
    DeviceFiles::writeSettings(staticNetwork);
    Box::clearCommandLog();
    m_board.clear();
    m_client = loggedInClient();
    QVERIFY(m_client);
}

std::unique_ptr<QTcpSocket> TestTcpHandlers::connectClient()
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(Box::boxAddress(), TcpProtocol::port);
    if (!client->waitForConnected(5000))
        return nullptr;
    QTest::qWait(20); // the server takes the connection over on its own turn of the event loop
    return client;
}

std::unique_ptr<QTcpSocket> TestTcpHandlers::loggedInClient()
{
    auto client = connectClient();
    if (!client)
        return nullptr;
    client->write(loginRequest(digest("secret")));
    if (receive(*client, 10) != responseReply(RespLoginAccepted, serial))
        return nullptr;
    return client;
}

void TestTcpHandlers::login_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<char>("nextReplyType");
    QTest::newRow("right digest") << digest("secret") << QByteArray("\x03\x01" "12345678") << char(ReplyNetworkConfiguration);
    QTest::newRow("upper case digest") << digest("secret").toUpper() << QByteArray("\x03\x0A" "12345678") << char(ReplyNotLoggedIn);
    QTest::newRow("plain password") << QByteArray("secret") << QByteArray("\x03\x0A" "12345678") << char(ReplyNotLoggedIn);
}

void TestTcpHandlers::login()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, reply);
    QFETCH(char, nextReplyType);
    auto client = connectClient();
    QVERIFY(client);
    client->write(loginRequest(password));
    QCOMPARE(receive(*client, 10), reply);
    client->write(plainRequest(CmdReadNetworkConfiguration));
    const QByteArray next = receive(*client, 2);
    QVERIFY(!next.isEmpty());
    QCOMPARE(next.at(0), nextReplyType);
}

void TestTcpHandlers::networkReadReplyBytes()
{
    m_client->write(plainRequest(CmdReadNetworkConfiguration));
    QByteArray expected;
    expected += '\x02';                          // network configuration reply
    expected += '\x0C'; expected += "192.168.77.2"; // ip
    expected += '\x0C'; expected += "192.168.77.1"; // gateway
    expected += '\x18';                          // prefix 24 from 255.255.255.0
    expected += '\x00';                          // static
    expected += serial;                          // serial number, no length
    expected += QByteArray(2, 0);                // UDP control port: not started
    QCOMPARE(receive(*m_client, expected.size()), expected);
}

void TestTcpHandlers::networkWriteAppliesThenRestartsAndReboots_data()
{
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<QByteArray>("gw");
    QTest::addColumn<int>("mask");
    QTest::addColumn<bool>("dhcp");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("interfaces");
    QTest::newRow("dhcp") << QByteArray() << QByteArray() << 24 << true << "dhcp"
                          << QByteArray("auto eth0\niface eth0 inet dhcp\n");
    QTest::newRow("static") << QByteArray("10.1.2.3") << QByteArray("10.1.0.1") << 16 << false << "static"
                            << QByteArray("auto eth0\niface eth0 inet static\naddress 10.1.2.3\nnetmask 255.255.0.0\n"
                                          "gateway 10.1.0.1\ndns-nameservers 10.1.0.1\n");
}

void TestTcpHandlers::networkWriteAppliesThenRestartsAndReboots()
{
    QFETCH(QByteArray, ip);
    QFETCH(QByteArray, gw);
    QFETCH(int, mask);
    QFETCH(bool, dhcp);
    QFETCH(QString, mode);
    QFETCH(QByteArray, interfaces);
    msgNetworkConfiguration configuration;
    configuration.ip = ip;
    configuration.gw = gw;
    configuration.mask = quint8(mask);
    configuration.dhcp = dhcp;
    m_client->write(networkConfigurationRequest(configuration));
    QCOMPARE(receive(*m_client, 10), responseReply(RespNetworkApplied, serial));
    QElapsedTimer sinceReply;
    sinceReply.start();
    QCOMPARE(DeviceFiles::readFile(interfaceFile), interfaces);
    QCOMPARE(setting("NET_MODE").toString(), mode);
    QCOMPARE(setting("NET_IP").toByteArray(), ip);
    QTRY_VERIFY_WITH_TIMEOUT(!Box::commandLog().isEmpty(), 5000);
    const qint64 delay = sinceReply.elapsed();
    qInfo("first command %lld ms after the reply", delay);
    QVERIFY2(delay >= 80, qPrintable(QString::number(delay)));
    QTRY_COMPARE_WITH_TIMEOUT(Box::commandLog(),
                              QStringList({"ip addr flush dev eth0", "systemctl restart networking", "reboot -f"}), 5000);
}

void TestTcpHandlers::malformedNetworkValuesChangeNothing_data()
{
    QTest::addColumn<QByteArray>("request");
    msgNetworkConfiguration lineBreak;
    lineBreak.ip = "10.0.0.2\nup reboot";
    lineBreak.gw = "10.0.0.1";
    lineBreak.mask = 24;
    QTest::newRow("line break in address") << networkConfigurationRequest(lineBreak);
    msgNetworkConfiguration wideMask = lineBreak;
    wideMask.ip = "10.0.0.2";
    wideMask.mask = 33;
    QTest::newRow("prefix 33") << networkConfigurationRequest(wideMask);
    msgNetworkConfiguration noAddress = wideMask;
    noAddress.ip.clear();
    noAddress.mask = 24;
    QTest::newRow("static without address") << networkConfigurationRequest(noAddress);
    QTest::newRow("truncated after code") << plainRequest(CmdWriteNetworkConfiguration);
}

void TestTcpHandlers::malformedNetworkValuesChangeNothing()
{
    QFETCH(QByteArray, request);
    DeviceFiles::removeFile(interfaceFile);
    m_client->write(request);
    QCOMPARE(receiveNothing(*m_client), QByteArray());
    QVERIFY(!QFile::exists(interfaceFile));
    QCOMPARE(setting("NET_IP").toString(), QStringLiteral("192.168.77.2"));
    QCOMPARE(setting("NET_MODE").toString(), QStringLiteral("static"));
    QCOMPARE(Box::commandLog(), QStringList());
}

void TestTcpHandlers::unwritableInterfaceFileGivesNoReply()
{
    DeviceFiles::removeFile(interfaceFile);
    QVERIFY(QDir().mkpath(interfaceFile));
    msgNetworkConfiguration configuration;
    configuration.dhcp = true;
    m_client->write(networkConfigurationRequest(configuration));
    QCOMPARE(receiveNothing(*m_client), QByteArray());
    QCOMPARE(Box::commandLog(), QStringList());
    QVERIFY(QDir(interfaceFile).removeRecursively());
}

void TestTcpHandlers::passwordChange_data()
{
    QTest::addColumn<QByteArray>("oldPassword");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("recordAfter");
    QTest::newRow("wrong old") << digest("guess") << int(RespPasswordRefused) << digest("secret");
    QTest::newRow("right old") << digest("secret") << int(RespPasswordChanged) << digest("fresh");
}

void TestTcpHandlers::passwordChange()
{
    QFETCH(QByteArray, oldPassword);
    QFETCH(int, code);
    QFETCH(QByteArray, recordAfter);
    m_client->write(changePasswordRequest(oldPassword, digest("fresh")));
    QCOMPARE(receive(*m_client, 10), responseReply(quint8(code), serial));
    QCOMPARE(DeviceFiles::readFile(passwordFile), recordAfter);

    auto next = connectClient();
    QVERIFY(next);
    next->write(loginRequest(recordAfter));
    QCOMPARE(receive(*next, 10), responseReply(RespLoginAccepted, serial));
    if (recordAfter != digest("secret")) {
        next->write(loginRequest(digest("secret")));
        QCOMPARE(receive(*next, 10), responseReply(RespLoginRefused, serial));
        next->write(loginRequest(recordAfter));
        receive(*next, 10);
        next->write(changePasswordRequest(recordAfter, digest("secret"))); // back for the next tests
        QCOMPARE(receive(*next, 10), responseReply(RespPasswordChanged, serial));
    }
}

void TestTcpHandlers::passwordThatCannotBeStoredIsRefused()
{
    DeviceFiles::removeFile(passwordFile);
    QVERIFY(QDir().mkpath(passwordFile));
    m_client->write(changePasswordRequest(digest("secret"), digest("fresh")));
    QCOMPARE(receive(*m_client, 10), responseReply(RespPasswordRefused, serial));
    QVERIFY(QDir(passwordFile).removeRecursively());
    DeviceFiles::writeFile(passwordFile, digest("secret"));
    auto next = connectClient();
    QVERIFY(next);
    next->write(loginRequest(digest("secret")));
    QCOMPARE(receive(*next, 10), responseReply(RespLoginAccepted, serial));
}

void TestTcpHandlers::channelAndNameStoredAndChannelSentToBoard()
{
    m_client->write(deviceConfigurationRequest(7, 0, "Stage left"));
    QCOMPARE(receive(*m_client, 10), responseReply(RespConfigurationStored, serial));
    QCOMPARE(setting("NAME").toString(), QStringLiteral("Stage left"));
    QCOMPARE(QSettings(Box::stickPath() + "/config.ini", QSettings::IniFormat).value("channel").toInt(), 7);
    QVERIFY(m_board.waitForFrames(1, 5000));
    QCOMPARE(m_board.frames().last(), QByteArray("\xFF\x0D\x06\x00\xFE", 5)); // channel 7 goes out as 6
}

void TestTcpHandlers::otherFileTypesAreIgnored()
{
    m_client->write(deviceConfigurationRequest(9, 1, "Other"));
    QCOMPARE(receiveNothing(*m_client), QByteArray());
    QCOMPARE(setting("NAME").toString(), QStringLiteral("Box one"));
    QVERIFY(m_board.frames().isEmpty());
}

void TestTcpHandlers::fileList_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("tracks with an empty entry")
        << QByteArray("[playlist]\n1\\track=intro.mp4\n2\\track=Empty\n3\\track=clips/outro.mp3\nsize=3\n")
        << QStringList{"/media/ZR605/intro.mp4", "/media/ZR605/clips/outro.mp3", "/media/ZR605/config.ini"};
    QTest::newRow("no tracks") << QByteArray("[General]\nchannel=1\n") << QStringList{"/media/ZR605/config.ini"};
    QTest::newRow("damaged") << QByteArray("[playlist]\n1\\track=a.mp4\nsize=1\n[broken\n") << QStringList{"/media/ZR605/config.ini"};
}

void TestTcpHandlers::fileList()
{
    QFETCH(QByteArray, config);
    QFETCH(QStringList, files);
    DeviceFiles::writeStickConfig(config);
    m_client->write(plainRequest(CmdListFiles));
    const QByteArray expected = fileListReply(serial, files);
    QCOMPARE(receive(*m_client, expected.size()), expected);
}

void TestTcpHandlers::removeRequestClearsTheStick()
{
    DeviceFiles::writeStickConfig("[playlist]\n1\\track=a.mp4\nsize=1\n");
    DeviceFiles::writeStickFile("a.mp4", "movie");
    m_client->write(plainRequest(CmdRemoveFiles));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(Box::stickPath() + "/config.ini"), 5000);
    QVERIFY(!QFile::exists(Box::stickPath() + "/a.mp4"));
    QCOMPARE(receiveNothing(*m_client), QByteArray());
    DeviceFiles::writeStickConfig("[General]\nchannel=1\n");
}

void TestTcpHandlers::reboot_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("with ack") << int(CmdRebootWithAck) << responseReply(RespRebootAccepted, serial);
    QTest::newRow("without ack") << int(CmdRebootWithoutAck) << QByteArray();
}

void TestTcpHandlers::reboot()
{
    QFETCH(int, code);
    QFETCH(QByteArray, reply);
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    m_client->write(plainRequest(Command(code)));
    QCOMPARE(receive(*m_client, reply.size(), 300), reply);
    QTRY_COMPARE_WITH_TIMEOUT(Box::commandLog(), QStringList({"reboot -f"}), 5000);
    const qint64 delay = sinceRequest.elapsed();
    qInfo("reboot %lld ms after the request", delay);
    QVERIFY2(delay >= 90, qPrintable(QString::number(delay)));
}

QUORVANT_TEST_MAIN(TestTcpHandlers)
#include "tst_tcphandlers.moc"
