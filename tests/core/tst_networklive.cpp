// Start-up's copy of the live network state into the settings, read from the real ifconfig and
// route output in the box, and the service-unit repair when eth0 has no address.

#include <QtTest>

#include "system/network.h"
#include "system/systemmanager.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

namespace {

const QString unitPath = QStringLiteral("/etc/systemd/system/quorvant.service");

int realIp(const QStringList &arguments)
{
    return QProcess::execute(Box::realProgram("ip"), arguments);
}

} // namespace

class TestNetworkLive : public QObject
{
    Q_OBJECT

    Network *m_network = nullptr;

private slots:
    void initTestCase()
    {
        DeviceFiles::writeSettings({{"NET_MODE", "dhcp"}});
        m_network = SystemManager::getInstance(this)->network();
    }

    void init() { Box::clearCommandLog(); }

    void liveAddressIsCopiedIntoTheSettings()
    {
        QSignalSpy empty(m_network, &Network::emptyNetworkConfigurationRead);
        m_network->updateSettings();
        QCOMPARE(m_network->getIp(), QString("192.168.77.2"));
        QCOMPARE(m_network->getSubnetMaskString(), QString("255.255.255.0"));
        QCOMPARE(m_network->getGateway(), QString("192.168.77.1"));
        QVERIFY(m_network->getDhcp());
        QVERIFY(!QFile::exists("/cfg/eth0"));
        QCOMPARE(empty.count(), 0);
    }

    void missingDefaultRouteStoresEmptyGateway()
    {
        QCOMPARE(realIp({"route", "del", "default"}), 0);
        m_network->updateSettings();
        QCOMPARE(m_network->getIp(), QString("192.168.77.2"));
        QCOMPARE(m_network->getGateway(), QString());
    }

    // Without an address the daemon started before the network: the unit is made to wait for it
    // and the device reboots; the stored settings stay as they were.
    void emptyAddressRepairsServiceUnitAndReboots()
    {
        QCOMPARE(realIp({"addr", "flush", "dev", "eth0"}), 0);
        m_network->setIp("10.0.0.5");
        DeviceFiles::writeFile(unitPath, "[Unit]\nAfter=local-fs.target\n");
        QSignalSpy empty(m_network, &Network::emptyNetworkConfigurationRead);

        m_network->updateSettings();

        QCOMPARE(empty.count(), 1);
        QCOMPARE(m_network->getIp(), QString("10.0.0.5"));
        QCOMPARE(DeviceFiles::readFile(unitPath),
                 QByteArray("[Unit]\nAfter=local-fs.target network.target sshd-keygen.service\n"));
        QCOMPARE(Box::commandLog(), (QStringList{"mount -o remount,rw /dev/mmcblk0p2", "reboot -f"}));
    }
};

QUORVANT_TEST_MAIN(TestNetworkLive)
#include "tst_networklive.moc"
