// Seeded random and truncated requests straight into the daemon's request handling, with the
// hub's real handlers behind it: nothing crashes, and no setting changes unless the request that
// came in was a well-formed change.
#include "link/authorizeuser.h"
#include "link/connectionmanager.h"
#include "link/tcpprotocol.h"
#include "link/tcpserver.h"
#include "system/network.h"
#include "system/systemmanager.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSettings>
#include <QtTest>

using namespace TcpProtocol;

namespace {

struct Snapshot {
    QString name;
    int channel;
    QString ip, gw, mask;
    bool dhcp;
    QByteArray password;
    QByteArray interfaces;
    bool operator==(const Snapshot &o) const
    {
        return name == o.name && channel == o.channel && ip == o.ip && gw == o.gw && mask == o.mask
            && dhcp == o.dhcp && password == o.password && interfaces == o.interfaces;
    }
};

Snapshot snapshot()
{
    SystemManager *system = SystemManager::getInstance();
    Network *network = system->network();
    return {system->deviceName(), system->dmxChannel(), network->getIp(), network->getGateway(),
            network->getSubnetMaskString(), network->getDhcp(),
            DeviceFiles::readFile("/cfg/.zr605_password.txt"), DeviceFiles::readFile("/cfg/eth0")};
}

} // namespace

class TestTcpFuzz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void randomRequests_data();
    void randomRequests();

private:
    QByteArray randomRequest();
    bool mayChangeSettings(const QByteArray &request, bool loggedIn) const;

    QRandomGenerator m_random{20261206};
    TcpServer *m_server = nullptr;
};

void TestTcpFuzz::initTestCase()
{
    // Every request logs a few debug lines; a hundred thousand of them would drown the report.
    static const QtMessageHandler previous = qInstallMessageHandler(nullptr);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (type != QtDebugMsg)
            previous(type, context, message);
    });
    DeviceFiles::writeSettings({{"SN", "12345678"}, {"NET_MODE", "static"}, {"NET_IP", "192.168.77.2"},
                                {"NET_MASK", "255.255.255.0"}, {"NET_ROUTE", "192.168.77.1"}});
    DeviceFiles::writeFile("/cfg/.zr605_password.txt", QCryptographicHash::hash("pw", QCryptographicHash::Md5).toHex());
    m_server = ConnectionManager::getInstance()->findChild<TcpServer *>();
    QVERIFY(m_server);
}

// A third random bytes, a third a request code with random payload, a third a well-formed
// request with random fields cut at a random length.
QByteArray TestTcpFuzz::randomRequest()
{
    const auto randomBytes = [this](int size) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(m_random.bounded(256));
        return bytes;
    };
    const auto randomText = [&](int maxSize) {
        return m_random.bounded(4) == 0 ? QByteArray("10.0.0.") + QByteArray::number(m_random.bounded(300))
                                        : randomBytes(m_random.bounded(maxSize));
    };
    switch (m_random.bounded(3)) {
    case 0:
        return randomBytes(m_random.bounded(120));
    case 1:
        return QByteArray(1, char(m_random.bounded(12))) + randomBytes(m_random.bounded(80));
    default:
        break;
    }
    QByteArray request;
    switch (m_random.bounded(4)) {
    case 0:
        request = loginRequest(randomText(40));
        break;
    case 1:
        request = deviceConfigurationRequest(quint8(m_random.bounded(256)), quint8(m_random.bounded(3)), randomText(40));
        break;
    case 2: {
        msgNetworkConfiguration configuration;
        configuration.ip = randomText(20);
        configuration.gw = randomText(20);
        configuration.mask = quint8(m_random.bounded(40));
        configuration.dhcp = m_random.bounded(2);
        request = networkConfigurationRequest(configuration);
        break;
    }
    default:
        request = changePasswordRequest(randomText(40), randomText(40));
        break;
    }
    return request.left(m_random.bounded(request.size() + 1));
}

bool TestTcpFuzz::mayChangeSettings(const QByteArray &request, bool loggedIn) const
{
    if (!loggedIn || request.isEmpty())
        return false;
    const Request parsed = parseRequest(request);
    switch (parsed.code) {
    case CmdStoreDeviceConfiguration:
        return parsed.fileType == 0;
    case CmdWriteNetworkConfiguration:
        return isAcceptableNetworkConfiguration(parsed.network.ip, parsed.network.gw, parsed.network.mask,
                                                parsed.network.dhcp);
    case CmdChangePassword:
        return parsed.oldPassword == DeviceFiles::readFile("/cfg/.zr605_password.txt");
    case CmdRemoveFiles:
        return true; // the channel lives in the stick's config.ini, which this removes
    default:
        return false;
    }
}

void TestTcpFuzz::randomRequests_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::newRow("fresh connection") << false;
    QTest::newRow("logged in") << true;
}

void TestTcpFuzz::randomRequests()
{
    QFETCH(bool, loggedIn);
    constexpr int count = 60000;
    int changes = 0;
    Snapshot before = snapshot();
    for (int i = 0; i < count; ++i) {
        QByteArray request = randomRequest();
        // Reboot requests only start the reboot stand-in; thousands of them would just be slow.
        if (!request.isEmpty() && (request.at(0) == CmdRebootWithAck || request.at(0) == CmdRebootWithoutAck))
            request[0] = char(CmdReadNetworkConfiguration);
        m_server->setAuthorized(loggedIn);
        const bool allowed = mayChangeSettings(request, loggedIn);
        m_server->handleRequest(request);
        // The settings class notices a deleted config.ini only at its next look at the disk;
        // look now, so that the change is put down to the removal that caused it.
        if (request.startsWith(char(CmdRemoveFiles)))
            QSettings(Box::stickPath() + "/config.ini", QSettings::IniFormat).sync();
        const Snapshot after = snapshot();
        if (!(after == before)) {
            QVERIFY2(allowed, request.toHex().constData());
            ++changes;
            before = after;
        }
        if (i % 1000 == 0)
            QCoreApplication::processEvents();
    }
    QTest::qWait(300); // the delayed actions of applied network changes
    qInfo("%d requests, %d changed a setting", count, changes);
}

QUORVANT_TEST_MAIN(TestTcpFuzz)
#include "tst_tcpfuzz.moc"
