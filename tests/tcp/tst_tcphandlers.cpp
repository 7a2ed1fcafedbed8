// The hub's request handlers behind the real server, in-process: replies, stored settings, the
// interface file, the board, the stick, the delayed system commands, and no leaked connections;
// and the search order's record as the settings files make it.
#include "link/connectionmanager.h"
#include "link/dmxserialport.h"
#include "wire/tcpprotocol.h"
#include "tests/support/ctlprocess.h"
#include "tests/support/testmain.h"

#include <QTcpSocket>
#include <memory>
#include <sys/mount.h>

using namespace TcpProtocol;

namespace {

const QString passwordFile = QStringLiteral("/cfg/.zr605_password.txt");
const QString interfaceFile = QStringLiteral("/cfg/eth0");
const QByteArray notLoggedIn("\x01\x0C", 2);
const QStringList networkCommands{ "ip addr flush dev eth0", "systemctl restart networking", "reboot -f" };

QByteArray response(quint8 code)
{
    return responseReply(code, "12345678");
}

std::unique_ptr<QTcpSocket> connectClient()
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(Box::boxAddress(), port);
    client->waitForConnected(5000); // a failure shows in the first exchange
    QTest::qWait(20); // the server takes the connection over on its next turn
    return client;
}

// Waits with the event loop turning (the server runs in this thread) until `replySize` bytes came;
// a reply size of 0 waits a while for a reply that should not come.
QByteArray exchange(QTcpSocket &client, const QByteArray &request, int replySize)
{
    client.write(request);
    QElapsedTimer timer;
    timer.start();
    while ((replySize == 0 || client.bytesAvailable() < replySize) && timer.elapsed() < (replySize ? 5000 : 300))
        QTest::qWait(5);
    return client.readAll();
}

} // namespace

Q_DECLARE_METATYPE(TcpProtocol::msgNetworkConfiguration)

class TestTcpHandlers : public QObject
{
    Q_OBJECT

    BoardPort m_board;
    std::unique_ptr<QTcpSocket> m_client;

    QByteArray ask(const QByteArray &request, int replySize) { return exchange(*m_client, request, replySize); }

private slots:
    void initTestCase()
    {
        DeviceFiles::writeFile(passwordFile, md5Hex("secret"));
        QVERIFY(m_board.open());
        QVERIFY(ConnectionManager::getInstance()->findChild<DmxSerialPort *>()->open());
    }

    void init()
    {
        DeviceFiles::writeSettings({ { "SN", "12345678" }, { "NAME", "Box one" }, { "NET_MODE", "static" } });
        Box::clearCommandLog();
        m_board.clear();
        m_client = connectClient();
        QCOMPARE(ask(loginRequest(md5Hex("secret")), 10), response(RespLoginAccepted));
    }

    void serverBehaviour()
    {
        auto fresh = connectClient(); // the newest client wins: m_client is dropped and this one starts logged out
        QTRY_COMPARE(m_client->state(), QAbstractSocket::UnconnectedState);
        for (const QByteArray &request :
             { deviceConfigurationRequest(5, 0, "x"), plainRequest(CmdReadNetworkConfiguration), plainRequest(CmdListFiles),
               networkConfigurationRequest({ "", "", 0, true, "", 0 }), changePasswordRequest("a", "b"),
               plainRequest(CmdRebootWithAck), plainRequest(CmdRebootWithoutAck), plainRequest(CmdRemoveFiles) })
            QCOMPARE(exchange(*fresh, request, 2), notLoggedIn);
        for (const char code : { 0, 3, 11, -1 }) // not requests: no reply at all
            QCOMPARE(exchange(*fresh, QByteArray(1, code), 0), QByteArray());
        QCOMPARE(exchange(*fresh, loginRequest(md5Hex("secret").toUpper()), 10), response(RespLoginRefused));
        // Only the first request of an arrival is served: the 4 glued to the login gets no reply.
        QCOMPARE(exchange(*fresh, loginRequest(md5Hex("secret")) + plainRequest(CmdReadNetworkConfiguration), 0),
                 response(RespLoginAccepted));
        fresh->disconnectFromHost();
        fresh = connectClient();
        QCOMPARE(exchange(*fresh, plainRequest(CmdReadNetworkConfiguration), 2), notLoggedIn);
        QCOMPARE(Box::commandLog(), QStringList());
    }

    // The record reflects both files at the time of the order.
    void searchRecordReadsTheSettings_data()
    {
        QTest::addColumn<QByteArray>("stickConfig"); // empty: no file
        QTest::addColumn<QStringList>("settings");    // SN, NET_MODE, NET_IP, NET_MASK, NET_ROUTE
        QTest::addColumn<QString>("record");         // name serial dhcp ip prefix gateway configPresent channel password
        QTest::newRow("no stick file") << QByteArray() << QStringList{ "abc", "DHCP", "", "", "" }
                                       << "ZR605 0 false 0.0.0.0 0 0.0.0.0 false 0 ";
        QTest::newRow("everything set") << QByteArray("devname=Sala, lewa\npassword=abc\nchannel=300\n")
                                        << QStringList{ "00001234", "dhcp", "192.168.0.110", "255.255.0.0", "10.1.0.1" }
                                        << "Sala, lewa 1234 true 192.168.0.110 16 10.1.0.1 true 300 abc";
    }

    void searchRecordReadsTheSettings()
    {
        QFETCH(QByteArray, stickConfig);
        QFETCH(QStringList, settings);
        DeviceFiles::clearStick();
        if (!stickConfig.isEmpty())
            DeviceFiles::writeStickConfig(stickConfig);
        DeviceFiles::writeSettings({ { "SN", settings[0] }, { "NET_MODE", settings[1] }, { "NET_IP", settings[2] },
                                     { "NET_MASK", settings[3] }, { "NET_ROUTE", settings[4] } });
        const QJsonObject search = CtlProcess::run({"discover", "--search", "--json"}).json()[0]["search"].toObject();
        QStringList record;
        for (const char *key : { "name", "serial", "dhcp", "ip", "prefix", "gateway", "configPresent", "channel", "stickPassword" })
            record << search[key].toVariant().toString();
        QTEST(record.join(' '), "record");
    }

    void networkWrite_data()
    {
        QTest::addColumn<msgNetworkConfiguration>("configuration");
        QTest::addColumn<bool>("unwritable");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("interfaces"); // empty: no reply, no file, nothing run
        QTest::newRow("dhcp") << msgNetworkConfiguration{ "", "", 24, true, "", 0 } << false << "dhcp"
                              << QByteArray("auto eth0\niface eth0 inet dhcp\n");
        QTest::newRow("static") << msgNetworkConfiguration{ "10.1.2.3", "10.1.0.1", 16, false, "", 0 } << false << "static"
                                << QByteArray("auto eth0\niface eth0 inet static\naddress 10.1.2.3\nnetmask 255.255.0.0\n"
                                              "gateway 10.1.0.1\ndns-nameservers 10.1.0.1\n");
        QTest::newRow("line break refused") << msgNetworkConfiguration{ "10.0.0.2\nup reboot", "10.0.0.1", 24, false, "", 0 }
                                            << false << "static" << QByteArray();
        QTest::newRow("unwritable file") << msgNetworkConfiguration{ "", "", 24, true, "", 0 } << true << "static"
                                         << QByteArray();
    }

    void networkWrite()
    {
        QFETCH(msgNetworkConfiguration, configuration);
        QFETCH(bool, unwritable);
        QFETCH(QByteArray, interfaces);
        DeviceFiles::removeFile(interfaceFile);
        QVERIFY(!unwritable || QDir().mkpath(interfaceFile));
        const QByteArray reply = interfaces.isEmpty() ? QByteArray() : response(RespNetworkApplied);
        QCOMPARE(ask(networkConfigurationRequest(configuration), reply.size()), reply);
        QCOMPARE(Box::commandLog(), QStringList()); // run 100 ms after the reply
        QTEST(QSettings(QStringLiteral("/cfg/settings.cfg"), QSettings::IniFormat).value("NET_MODE").toString(), "mode");
        if (unwritable)
            QVERIFY(QDir(interfaceFile).removeRecursively());
        QCOMPARE(DeviceFiles::readFile(interfaceFile), interfaces);
        QTRY_COMPARE(Box::commandLog(), interfaces.isEmpty() ? QStringList() : networkCommands);
        QTest::qWait(200);
        QCOMPARE(Box::commandLog(), interfaces.isEmpty() ? QStringList() : networkCommands);
    }

    void passwordChange()
    {
        QCOMPARE(ask(changePasswordRequest(md5Hex("guess"), md5Hex("new")), 10), response(RespPasswordRefused));
        QCOMPARE(ask(changePasswordRequest(md5Hex("secret"), md5Hex("new")), 10), response(RespPasswordChanged));
        // A record that cannot be stored is not in force, so it must not be reported as changed.
        DeviceFiles::removeFile(passwordFile);
        QVERIFY(QDir().mkpath(passwordFile));
        QCOMPARE(ask(changePasswordRequest(md5Hex("new"), md5Hex("other")), 10), response(RespPasswordRefused));
        QVERIFY(QDir(passwordFile).removeRecursively());
        QCOMPARE(ask(changePasswordRequest(md5Hex("new"), md5Hex("secret")), 10), response(RespPasswordChanged));
    }

    void channelAndName()
    {
        QCOMPARE(ask(deviceConfigurationRequest(9, 1, "Other type"), 0), QByteArray());
        QCOMPARE(ask(deviceConfigurationRequest(7, 0, "Stage left"), 10), response(RespConfigurationStored));
        QVERIFY(m_board.waitForFrames(1, 5000));
        QCOMPARE(m_board.frames(), QList<QByteArray>{ QByteArray("\xFF\x0D\x06\x00\xFE", 5) }); // channel 7 goes out as 6
        QCOMPARE(QSettings("/cfg/settings.cfg", QSettings::IniFormat).value("NAME").toString(), QString("Stage left"));
        // A name that cannot be stored gets no reply; the one on the disk stays.
        QCOMPARE(::mount(nullptr, "/cfg", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        const QByteArray refused = ask(deviceConfigurationRequest(7, 0, "Stage right"), 0);
        QCOMPARE(::mount(nullptr, "/cfg", nullptr, MS_REMOUNT, nullptr), 0);
        QCOMPARE(refused, QByteArray());
        QCOMPARE(QSettings("/cfg/settings.cfg", QSettings::IniFormat).value("NAME").toString(), QString("Stage left"));
    }

    void fileListAndRemoval_data()
    {
        QTest::addColumn<QString>("second"); // the second of three playlist tracks
        QTest::addColumn<QStringList>("remaining");
        const QStringList stopped{ "b.mp4", "c.mp4", "config.ini", "d", "keep", "link" }; // a.mp4 went, then it stopped
        QTest::newRow("all present") << "b.mp4" << QStringList{ "d", "keep", "link" };
        QTest::newRow("empty entry") << "Empty" << QStringList{ "b.mp4", "d", "keep", "link" };
        QTest::newRow("second missing") << "missing.mp4" << stopped;
        QTest::newRow("absolute names a file on the stick") << "/b.mp4" << QStringList{ "d", "keep", "link" };
        QTest::newRow("climbs out") << "d/../../../tmp/victim" << stopped;
        QTest::newRow("through a link") << "link/victim" << stopped;
    }

    void fileListAndRemoval()
    {
        QFETCH(QString, second);
        DeviceFiles::clearStick();
        DeviceFiles::writeFile("/tmp/victim", "precious");
        for (const char *name : { "a.mp4", "b.mp4", "c.mp4", "keep", "d/x" })
            DeviceFiles::writeStickFile(name);
        QVERIFY(QFile::link("/tmp", Box::stickPath() + "/link"));
        DeviceFiles::writeStickConfig(
            QStringLiteral("[playlist]\n1\\track=a.mp4\n2\\track=%1\n3\\track=c.mp4\nsize=3\n").arg(second).toUtf8());
        QStringList listed{ "/media/ZR605/a.mp4", "/media/ZR605/" + second, "/media/ZR605/c.mp4", "/media/ZR605/config.ini" };
        listed.removeAll("/media/ZR605/Empty");
        const QByteArray list = fileListReply("12345678", listed);
        QCOMPARE(ask(plainRequest(CmdListFiles), list.size()), list);
        QCOMPARE(ask(plainRequest(CmdRemoveFiles), 0), QByteArray());
        QTEST(QDir(Box::stickPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name),
              "remaining");
        QCOMPARE(DeviceFiles::readFile("/tmp/victim"), QByteArray("precious"));
    }

    void manyShortConnectionsLeakNothing()
    {
        m_client.reset();
        const auto descriptors = [] { return QDir("/proc/self/fd").entryList(QDir::System).size(); };
        const int before = descriptors();
        for (int i = 0; i < 1000; ++i) {
            QTcpSocket tool;
            tool.connectToHost(Box::boxAddress(), port);
            QVERIFY(tool.waitForConnected(5000));
            if (i % 2) { // half of them log in; dropping a socket discards what it has not sent
                tool.write(loginRequest(md5Hex("secret")));
                tool.flush();
            }
            QCoreApplication::processEvents(); // the server takes the connection over
        }
        QTRY_VERIFY_WITH_TIMEOUT(descriptors() <= before + 2, 20000); // a leak would keep hundreds
    }
};

QUORVANT_TEST_MAIN(TestTcpHandlers)
#include "tst_tcphandlers.moc"
