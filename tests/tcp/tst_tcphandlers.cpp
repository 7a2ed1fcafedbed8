// The hub's request handlers behind the real server, in-process: replies, stored settings, the
// interface file, the board, the stick, and the delayed system commands.
#include "link/connectionmanager.h"
#include "link/dmxserialport.h"
#include "link/tcpserver.h"
#include "system/network.h"
#include "system/systemmanager.h"
#include "tests/support/boardport.h"
#include "tests/support/devicefiles.h"
#include "tests/tcp/tcptestclient.h"

#include <QDir>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSettings>

using namespace TcpProtocol;
using namespace TcpTest;

namespace {

const QString passwordFile = QStringLiteral("/cfg/.zr605_password.txt");
const QString interfaceFile = QStringLiteral("/cfg/eth0");
const QByteArray notLoggedIn("\x01\x0C", 2);
const QStringList networkCommands{ "ip addr flush dev eth0", "systemctl restart networking", "reboot -f" };

QString setting(const QString &key)
{
    return QSettings(QStringLiteral("/cfg/settings.cfg"), QSettings::IniFormat).value(key).toString();
}

QByteArray response(quint8 code)
{
    return responseReply(code, "12345678");
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
        DeviceFiles::writeFile(passwordFile, digest("secret"));
        QVERIFY(m_board.open());
        QVERIFY(ConnectionManager::getInstance()->findChild<DmxSerialPort *>()->open());
    }

    void init()
    {
        DeviceFiles::writeSettings({ { "SN", "12345678" }, { "NAME", "Box one" }, { "NET_MODE", "static" } });
        Box::clearCommandLog();
        m_board.clear();
        QVERIFY(m_client = connectClient());
        QCOMPARE(ask(loginRequest(digest("secret")), 10), response(RespLoginAccepted));
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
        QCOMPARE(exchange(*fresh, loginRequest(digest("secret").toUpper()), 10), response(RespLoginRefused));
        // Only the first request of an arrival is served: the 4 glued to the login gets no reply.
        QCOMPARE(exchange(*fresh, loginRequest(digest("secret")) + plainRequest(CmdReadNetworkConfiguration), 0),
                 response(RespLoginAccepted));
        fresh->disconnectFromHost();
        fresh = connectClient();
        QCOMPARE(exchange(*fresh, plainRequest(CmdReadNetworkConfiguration), 2), notLoggedIn);
        QCOMPARE(Box::commandLog(), QStringList());
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
        QTest::newRow("unwritable file") << msgNetworkConfiguration{ "", "", 24, true, "", 0 } << true << "dhcp"
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
        QTEST(setting("NET_MODE"), "mode");
        if (unwritable)
            QVERIFY(QDir(interfaceFile).removeRecursively());
        QCOMPARE(DeviceFiles::readFile(interfaceFile), interfaces);
        QTRY_COMPARE(Box::commandLog(), interfaces.isEmpty() ? QStringList() : networkCommands);
        QTest::qWait(200);
        QCOMPARE(Box::commandLog(), interfaces.isEmpty() ? QStringList() : networkCommands);
    }

    void passwordChange()
    {
        QCOMPARE(ask(changePasswordRequest(digest("guess"), digest("new")), 10), response(RespPasswordRefused));
        QCOMPARE(ask(changePasswordRequest(digest("secret"), digest("new")), 10), response(RespPasswordChanged));
        QCOMPARE(DeviceFiles::readFile(passwordFile), digest("new"));
        m_client = connectClient();
        QCOMPARE(ask(loginRequest(digest("secret")), 10), response(RespLoginRefused));
        QCOMPARE(ask(loginRequest(digest("new")), 10), response(RespLoginAccepted));
        // A record that cannot be stored is not in force, so it must not be reported as changed.
        DeviceFiles::removeFile(passwordFile);
        QVERIFY(QDir().mkpath(passwordFile));
        QCOMPARE(ask(changePasswordRequest(digest("new"), digest("other")), 10), response(RespPasswordRefused));
        QVERIFY(QDir(passwordFile).removeRecursively());
        QCOMPARE(ask(changePasswordRequest(digest("new"), digest("secret")), 10), response(RespPasswordChanged));
    }

    void channelAndName()
    {
        QCOMPARE(ask(deviceConfigurationRequest(9, 1, "Other type"), 0), QByteArray());
        QCOMPARE(ask(deviceConfigurationRequest(7, 0, "Stage left"), 10), response(RespConfigurationStored));
        QCOMPARE(setting("NAME"), QStringLiteral("Stage left"));
        QCOMPARE(SystemManager::getInstance()->dmxChannel(), uint8_t(7));
        QVERIFY(m_board.waitForFrames(1, 5000));
        QCOMPARE(m_board.frames(), QList<QByteArray>{ QByteArray("\xFF\x0D\x06\x00\xFE", 5) }); // channel 7 goes out as 6
    }

    void fileListAndRemoval_data()
    {
        QTest::addColumn<QString>("second"); // the second of three playlist tracks
        QTest::addColumn<QStringList>("remaining");
        const QStringList stopped{ "b.mp4", "c.mp4", "config.ini", "d", "keep", "link" }; // a.mp4 went, then it stopped
        QTest::newRow("all present") << "b.mp4" << QStringList{ "d", "keep", "link" };
        QTest::newRow("empty entry") << "Empty" << QStringList{ "b.mp4", "d", "keep", "link" };
        QTest::newRow("second missing") << "missing.mp4" << stopped;
        QTest::newRow("absolute") << "/tmp/victim" << stopped;
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

    void reboot()
    {
        QCOMPARE(ask(plainRequest(CmdRebootWithAck), 10), response(RespRebootAccepted));
        QCOMPARE(Box::commandLog(), QStringList()); // run 100 ms after the reply
        QTRY_COMPARE(Box::commandLog(), QStringList{ "reboot -f" });
        Box::clearCommandLog();
        QCOMPARE(ask(plainRequest(CmdRebootWithoutAck), 0), QByteArray());
        QTRY_COMPARE(Box::commandLog(), QStringList{ "reboot -f" });
    }

    // Seeded random bytes, random codes with random payloads and cut well-formed requests, straight
    // into the server's request handling, alternately as a fresh and as a logged-in connection.
    void randomRequestsChangeNothingUnlessWellFormed()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); // a hundred thousand requests log too much
        auto *server = ConnectionManager::getInstance()->findChild<TcpServer *>();
        const auto settings = [system = SystemManager::getInstance(), net = SystemManager::getInstance()->network()] {
            return QStringList{ system->deviceName(), QString::number(system->dmxChannel()), net->getIp(),
                                net->getGateway(), net->getSubnetMaskString(), QString::number(net->getDhcp()),
                                DeviceFiles::readFile(passwordFile), DeviceFiles::readFile(interfaceFile) };
        };
        QRandomGenerator random(20261206);
        const auto bytes = [&random](int size) {
            QByteArray out(random.bounded(size), Qt::Uninitialized);
            for (char &c : out)
                c = char(random.bounded(256));
            return random.bounded(8) ? out : "10.0.0." + QByteArray::number(random.bounded(300)); // near-valid too
        };
        QStringList before = settings();
        for (int i = 0; i < 120000; ++i) {
            const QByteArray password = random.bounded(8) ? bytes(40) : DeviceFiles::readFile(passwordFile);
            QByteArray request = QList<QByteArray>{
                bytes(120), char(random.bounded(12)) + bytes(80), loginRequest(bytes(40)),
                deviceConfigurationRequest(quint8(random.bounded(256)), quint8(random.bounded(3)), bytes(40)),
                networkConfigurationRequest({ bytes(20), bytes(20), quint8(random.bounded(40)), random.bounded(2) == 1, "", 0 }),
                changePasswordRequest(password, bytes(40)) }[random.bounded(6)];
            request.truncate(random.bounded(request.size() + 1));
            if (request.startsWith(char(CmdRebootWithAck)) || request.startsWith(char(CmdRebootWithoutAck)))
                request[0] = char(CmdListFiles); // thousands of reboot stand-ins would only be slow
            const Request r = parseRequest(request);
            const msgNetworkConfiguration &n = r.network;
            const bool mayChange = i % 2
                && ((r.code == CmdStoreDeviceConfiguration && r.fileType == 0) || r.code == CmdRemoveFiles
                    || (r.code == CmdWriteNetworkConfiguration && isAcceptableNetworkConfiguration(n.ip, n.gw, n.mask, n.dhcp))
                    || (r.code == CmdChangePassword && QString(r.oldPassword) == QString(DeviceFiles::readFile(passwordFile))));
            server->setAuthorized(i % 2);
            server->handleRequest(request);
            if (r.code == CmdRemoveFiles) // let the settings notice the removed config.ini now
                QSettings(Box::stickPath() + "/config.ini", QSettings::IniFormat).sync();
            const QStringList now = settings();
            QVERIFY2(mayChange || now == before, request.toHex().constData());
            before = now;
            if (i % 1000 == 0)
                QCoreApplication::processEvents();
        }
    }
};

QUORVANT_TEST_MAIN(TestTcpHandlers)
#include "tst_tcphandlers.moc"
