#include "link/tcpprotocol.h"
#include "link/tcpserver.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

#include <QTcpSocket>
#include <QtTest>
#include <memory>

using namespace TcpProtocol;

namespace {

// Everything the client received until `count` bytes are there or the time is up. The server
// runs in this thread, so the wait must keep the event loop turning.
QByteArray receive(QTcpSocket &client, int count, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (client.bytesAvailable() < count && timer.elapsed() < timeoutMs)
        QTest::qWait(10);
    return client.readAll();
}

// Gives a reply that should not come a fair chance to arrive.
QByteArray receiveNothing(QTcpSocket &client)
{
    QTest::qWait(300);
    return client.readAll();
}

} // namespace

class TestTcpServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void guardedCodesGetNotLoggedInReply_data();
    void guardedCodesGetNotLoggedInReply();
    void loggedInRequestsBecomeSignals_data();
    void loggedInRequestsBecomeSignals();
    void loginIsServedWithoutLogin();
    void unknownCodesGetNoReply_data();
    void unknownCodesGetNoReply();
    void onlyFirstRequestOfAnArrivalIsServed();
    void newestClientWinsAndStartsLoggedOut();
    void reconnectNeedsNewLogin();
    void listenAgainLogsOutAndKeepsServing();
    void sendWithoutClientDoesNothing();

private:
    std::unique_ptr<QTcpSocket> connectClient();
    std::unique_ptr<TcpServer> m_server;
};

void TestTcpServer::initTestCase()
{
    qRegisterMetaType<uint8_t>("uint8_t");
    DeviceFiles::writeSettings({{"NET_IP", Box::boxAddress().toString()}, {"NET_MODE", "static"}});
}

void TestTcpServer::init()
{
    m_server = std::make_unique<TcpServer>();
    QVERIFY(m_server->listen());
}

void TestTcpServer::cleanup()
{
    m_server.reset();
}

std::unique_ptr<QTcpSocket> TestTcpServer::connectClient()
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(Box::boxAddress(), TcpProtocol::port);
    if (!client->waitForConnected(5000))
        return nullptr;
    // The server takes the connection over on its own event loop turn.
    QTest::qWait(50);
    return client;
}

void TestTcpServer::guardedCodesGetNotLoggedInReply_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("2 device configuration") << deviceConfigurationRequest(5, 0, "name");
    QTest::newRow("4 read network") << plainRequest(CmdReadNetworkConfiguration);
    msgNetworkConfiguration configuration;
    configuration.dhcp = true;
    QTest::newRow("5 write network") << networkConfigurationRequest(configuration);
    QTest::newRow("6 change password") << changePasswordRequest("a", "b");
    QTest::newRow("7 list files") << plainRequest(CmdListFiles);
    QTest::newRow("8 reboot with ack") << plainRequest(CmdRebootWithAck);
    QTest::newRow("9 reboot without ack") << plainRequest(CmdRebootWithoutAck);
    QTest::newRow("10 remove files") << plainRequest(CmdRemoveFiles);
}

void TestTcpServer::guardedCodesGetNotLoggedInReply()
{
    QFETCH(QByteArray, request);
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy config(m_server.get(), &TcpServer::configReceived);
    QSignalSpy netRead(m_server.get(), &TcpServer::networkConfigRequested);
    QSignalSpy netWrite(m_server.get(), &TcpServer::networkConfigReceived);
    QSignalSpy password(m_server.get(), &TcpServer::newPasswordReceived);
    QSignalSpy files(m_server.get(), &TcpServer::sendFileRequested);
    QSignalSpy reboot(m_server.get(), &TcpServer::rebootDeviceRequested);
    QSignalSpy remove(m_server.get(), &TcpServer::removeFileRequested);
    client->write(request);
    QCOMPARE(receive(*client, 2), QByteArray("\x01\x0C", 2));
    QCOMPARE(config.count() + netRead.count() + netWrite.count() + password.count() + files.count()
                 + reboot.count() + remove.count(),
             0);
}

void TestTcpServer::loggedInRequestsBecomeSignals_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QVariantList>("arguments");
    QTest::newRow("2") << deviceConfigurationRequest(5, 0, "Stage left") << QByteArray(SIGNAL(configReceived(uint8_t, uint8_t, QByteArray)))
                       << QVariantList{quint8(0), quint8(5), QByteArray("Stage left")};
    QTest::newRow("4") << plainRequest(CmdReadNetworkConfiguration) << QByteArray(SIGNAL(networkConfigRequested()))
                       << QVariantList{};
    QTest::newRow("5 empty ip") << QByteArray("\x05\x00\x08" "10.0.0.1\x18\x01", 13)
                                << QByteArray(SIGNAL(networkConfigReceived(QByteArray, QByteArray, uint8_t, bool)))
                                << QVariantList{QByteArray(), QByteArray("10.0.0.1"), quint8(24), true};
    QTest::newRow("6") << changePasswordRequest("old", "new") << QByteArray(SIGNAL(newPasswordReceived(QByteArray, QByteArray)))
                       << QVariantList{QByteArray("old"), QByteArray("new")};
    QTest::newRow("7") << plainRequest(CmdListFiles) << QByteArray(SIGNAL(sendFileRequested())) << QVariantList{};
    QTest::newRow("8") << plainRequest(CmdRebootWithAck) << QByteArray(SIGNAL(rebootDeviceRequested(bool)))
                       << QVariantList{true};
    QTest::newRow("9") << plainRequest(CmdRebootWithoutAck) << QByteArray(SIGNAL(rebootDeviceRequested(bool)))
                       << QVariantList{false};
    QTest::newRow("10") << plainRequest(CmdRemoveFiles) << QByteArray(SIGNAL(removeFileRequested())) << QVariantList{};
}

void TestTcpServer::loggedInRequestsBecomeSignals()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, signal);
    QFETCH(QVariantList, arguments);
    auto client = connectClient();
    QVERIFY(client);
    m_server->setAuthorized(true);
    QSignalSpy spy(m_server.get(), signal.constData());
    QVERIFY(spy.isValid());
    client->write(request);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 5000);
    QCOMPARE(spy.first().size(), arguments.size());
    for (int i = 0; i < arguments.size(); ++i)
        QCOMPARE(spy.first().at(i), arguments.at(i));
    QCOMPARE(receiveNothing(*client), QByteArray());
}

void TestTcpServer::loginIsServedWithoutLogin()
{
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy login(m_server.get(), &TcpServer::loginRequested);
    client->write(loginRequest("0123456789abcdef0123456789abcdef"));
    QTRY_COMPARE_WITH_TIMEOUT(login.count(), 1, 5000);
    QCOMPARE(login.first().first().toByteArray(), QByteArray("0123456789abcdef0123456789abcdef"));
    QVERIFY(!m_server->checkAuthorization()); // only the password store's answer logs a client in
}

void TestTcpServer::unknownCodesGetNoReply_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("0") << QByteArray(1, '\x00');
    QTest::newRow("3") << QByteArray(1, '\x03');
    QTest::newRow("11") << QByteArray(1, '\x0B');
    QTest::newRow("255 with payload") << QByteArray("\xFF\x04\x04", 3);
}

void TestTcpServer::unknownCodesGetNoReply()
{
    QFETCH(QByteArray, request);
    auto client = connectClient();
    QVERIFY(client);
    client->write(request);
    QCOMPARE(receiveNothing(*client), QByteArray());
    QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
}

void TestTcpServer::onlyFirstRequestOfAnArrivalIsServed()
{
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy login(m_server.get(), &TcpServer::loginRequested);
    // A served 4 would answer "not logged in", as nothing accepts this login.
    client->write(loginRequest("digest") + plainRequest(CmdReadNetworkConfiguration));
    QTRY_COMPARE_WITH_TIMEOUT(login.count(), 1, 5000);
    QCOMPARE(receiveNothing(*client), QByteArray());
}

void TestTcpServer::newestClientWinsAndStartsLoggedOut()
{
    auto first = connectClient();
    QVERIFY(first);
    m_server->setAuthorized(true);
    auto second = connectClient();
    QVERIFY(second);
    QTRY_COMPARE_WITH_TIMEOUT(first->state(), QAbstractSocket::UnconnectedState, 5000);
    second->write(plainRequest(CmdReadNetworkConfiguration));
    QCOMPARE(receive(*second, 2), QByteArray("\x01\x0C", 2));
}

void TestTcpServer::reconnectNeedsNewLogin()
{
    auto client = connectClient();
    QVERIFY(client);
    m_server->setAuthorized(true);
    client->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(!m_server->checkAuthorization(), 5000);
    client = connectClient();
    QVERIFY(client);
    client->write(plainRequest(CmdListFiles));
    QCOMPARE(receive(*client, 2), QByteArray("\x01\x0C", 2));
}

void TestTcpServer::listenAgainLogsOutAndKeepsServing()
{
    auto client = connectClient();
    QVERIFY(client);
    m_server->setAuthorized(true);
    QVERIFY(m_server->listen());
    client->write(plainRequest(CmdRemoveFiles));
    QCOMPARE(receive(*client, 2), QByteArray("\x01\x0C", 2));
    auto next = connectClient();
    QVERIFY(next);
    next->write(plainRequest(CmdListFiles));
    QCOMPARE(receive(*next, 2), QByteArray("\x01\x0C", 2));
}

void TestTcpServer::sendWithoutClientDoesNothing()
{
    m_server->send("nobody listens");
    m_server->sendUnauthorized();
    auto client = connectClient();
    QVERIFY(client);
    QCOMPARE(receiveNothing(*client), QByteArray());
}

QUORVANT_TEST_MAIN(TestTcpServer)
#include "tst_tcpserver.moc"
