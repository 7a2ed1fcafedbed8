// Network settings, the interface file and the parsers of the live network state, without the
// system manager.

#include <QtTest>

#include "system/network.h"
#include "system/networkprocessoutputparser.h"
#include "system/networksettings.h"
#include "tests/support/box.h"
#include "tests/core/smallcfg.h"
#include "tests/support/devicefiles.h"

namespace {

// Kept off /cfg, so that a full or read-only /cfg only hits the interface file.
const QString settingsPath = QStringLiteral("/tmp/network-settings.cfg");
const QString interfacePath = QStringLiteral("/cfg/eth0");
const QByteArray dhcpFile = "auto eth0\niface eth0 inet dhcp\n";

} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings(settingsPath, QSettings::IniFormat).clear();
        DeviceFiles::removeFile(interfacePath);
    }

    void maskToCidr_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<int>("prefix");
        QTest::newRow("/24") << "255.255.255.0" << 24;
        QTest::newRow("/25") << "255.255.255.128" << 25;
        QTest::newRow("/32") << "255.255.255.255" << 32;
        QTest::newRow("/17") << "255.255.128.0" << 17;
        QTest::newRow("non-contiguous scored per part") << "255.0.255.0" << 16;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("garbage part") << "255.x.255.0" << 16;
        QTest::newRow("odd value") << "255.255.255.3" << 24;
    }

    void maskToCidr()
    {
        QFETCH(QString, mask);
        QTEST(int(Network::maskToCidr(mask)), "prefix");
    }

    void cidrToMask_data()
    {
        QTest::addColumn<int>("prefix");
        QTest::addColumn<QString>("mask");
        QTest::newRow("0") << 0 << "0.0.0.0";
        QTest::newRow("1") << 1 << "128.0.0.0";
        QTest::newRow("24") << 24 << "255.255.255.0";
        QTest::newRow("31") << 31 << "255.255.255.254";
        QTest::newRow("32") << 32 << "255.255.255.255";
        QTest::newRow("40") << 40 << "255.255.255.255";
        QTest::newRow("255") << 255 << "255.255.255.255";
    }

    void cidrToMask()
    {
        QFETCH(int, prefix);
        QTEST(Network::cidrToMask(uint8_t(prefix)), "mask");
    }

    void dhcpModeIsCaseSensitive_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("dhcp");
        QTest::newRow("dhcp") << QVariant("dhcp") << true;
        QTest::newRow("DHCP") << QVariant("DHCP") << false;
        QTest::newRow("static") << QVariant("static") << false;
        QTest::newRow("absent") << QVariant() << false;
    }

    void dhcpModeIsCaseSensitive()
    {
        QFETCH(QVariant, stored);
        if (stored.isValid())
            QSettings(settingsPath, QSettings::IniFormat).setValue("NET_MODE", stored);
        QTEST(Network(settingsPath).getDhcp(), "dhcp");
    }

    void setDhcpStoresModeWord()
    {
        NetworkSettings settings(settingsPath);
        settings.setDhcp(false);
        QCOMPARE(QSettings(settingsPath, QSettings::IniFormat).value("NET_MODE").toString(), QString("static"));
        settings.setDhcp(true);
        QCOMPARE(QSettings(settingsPath, QSettings::IniFormat).value("NET_MODE").toString(), QString("dhcp"));
    }

    void reloadNetworkWritesInterfaceFile_data()
    {
        QTest::addColumn<bool>("dhcp");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("dhcp") << true << dhcpFile;
        QTest::newRow("static") << false
                                << QByteArray("auto eth0\n"
                                              "iface eth0 inet static\n"
                                              "address 10.1.2.3\n"
                                              "netmask 255.255.240.0\n"
                                              "gateway 10.1.0.1\n"
                                              "dns-nameservers 10.1.0.1\n");
    }

    void reloadNetworkWritesInterfaceFile()
    {
        QFETCH(bool, dhcp);
        Network network(settingsPath);
        QSignalSpy refreshed(&network, &Network::networkRefreshed);
        network.setIp("10.1.2.3");
        network.setGateway("10.1.0.1");
        network.setSubnetMask(20);
        network.setDhcp(dhcp);
        QCOMPARE(network.getSubnetMask(), uint8_t(20));
        QVERIFY(network.reloadNetwork());
        QTEST(DeviceFiles::readFile(interfacePath), "file");
        QCOMPARE(refreshed.count(), 1);
    }

    void systemNetworkReloadUsesStoredModeWord_data()
    {
        QTest::addColumn<QVariant>("mode");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("dhcp") << QVariant("dhcp") << dhcpFile;
        QTest::newRow("static") << QVariant("static")
                                << QByteArray("auto eth0\niface eth0 inet static\naddress 10.0.0.9\n"
                                              "netmask 255.0.0.0\ngateway 10.0.0.1\n"
                                              "dns-nameservers 10.0.0.1\n");
        QTest::newRow("upper case kept") << QVariant("DHCP") << QByteArray("auto eth0\niface eth0 inet DHCP\n");
        QTest::newRow("absent") << QVariant() << QByteArray("auto eth0\niface eth0 inet \n");
    }

    void systemNetworkReloadUsesStoredModeWord()
    {
        QFETCH(QVariant, mode);
        QSettings settings(settingsPath, QSettings::IniFormat);
        settings.setValue("NET_IP", "10.0.0.9");
        settings.setValue("NET_MASK", "255.0.0.0");
        settings.setValue("NET_ROUTE", "10.0.0.1");
        if (mode.isValid())
            settings.setValue("NET_MODE", mode);
        QCOMPARE(systemNetworkReload(settings), 0);
        QTEST(DeviceFiles::readFile(interfacePath), "file");
    }

    void updateFromTupleStopsAtZeroByte()
    {
        NetworkSettings settings(settingsPath);
        settings.updateFromTuple({QByteArray("10.0.0.7\0junk", 13), "10.0.0.1", "255.255.255.0"});
        QCOMPARE(settings.getIp(), QString("10.0.0.7"));
        QCOMPARE(settings.getGateway(), QString("10.0.0.1"));
        QCOMPARE(settings.getSubnetMask(), QString("255.255.255.0"));
    }

    void interfaceOutputParsing_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QByteArray>("ip");
        QTest::addColumn<QByteArray>("netmask");
        QTest::newRow("net-tools")
            << "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n"
               "        inet 192.168.1.20  netmask 255.255.255.0  broadcast 192.168.1.255\n"
               "        inet6 fe80::1  prefixlen 64  scopeid 0x20<link>\n"
            << QByteArray("192.168.1.20") << QByteArray("255.255.255.0");
        QTest::newRow("IPv6 only") << "eth0: flags=4163<UP>  mtu 1500\n        inet6 fe80::1  prefixlen 64\n"
                                   << QByteArray() << QByteArray();
        QTest::newRow("old layout") << "eth0 Link encap:Ethernet\n inet addr:10.0.0.2  Mask:255.0.0.0\n"
                                    << QByteArray() << QByteArray();
        QTest::newRow("empty") << QString() << QByteArray() << QByteArray();
    }

    void interfaceOutputParsing()
    {
        QFETCH(QString, output);
        const NetInfo info = NetworkProcessOutputParser::parseInterfaceOutput(output);
        QTEST(info.ip, "ip");
        QTEST(info.netmask, "netmask");
    }

    void routeOutputParsing_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QByteArray>("gateway");
        const QString header = "Kernel IP routing table\n"
                               "Destination     Gateway         Genmask         Flags Metric Ref    Use Iface\n";
        QTest::newRow("default route")
            << header + "default         192.168.1.1     0.0.0.0         UG    0      0        0 eth0\n"
            << QByteArray("192.168.1.1");
        QTest::newRow("gateway shown as host name")
            << header + "default         _gateway        0.0.0.0         UG    0      0        0 eth0\n"
            << QByteArray();
        QTest::newRow("no default route")
            << header + "192.168.1.0     0.0.0.0         255.255.255.0   U     0      0        0 eth0\n"
            << QByteArray();
    }

    void routeOutputParsing()
    {
        QFETCH(QString, output);
        QTEST(NetworkProcessOutputParser::parseRouteOutput(output), "gateway");
    }

    void parserWithoutSystemManagerReadsNothing()
    {
        const NetInfo info = NetworkProcessOutputParser().getNetworkInfo();
        QVERIFY(info.ip.isEmpty() && info.netmask.isEmpty() && info.gateway.isEmpty());
    }

    // A write that cannot complete (read-only or full /cfg) leaves the complete old file and
    // reports failure; the interface file is never left empty or cut short.
    void failedWriteKeepsOldInterfaceFile_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("read-only") << true;
        QTest::newRow("full") << false;
    }

    void failedWriteKeepsOldInterfaceFile()
    {
        QFETCH(bool, readOnly);
        SmallCfg cfg;
        QVERIFY(cfg.mounted());
        DeviceFiles::writeFile(interfacePath, dhcpFile);
        QVERIFY(readOnly ? cfg.makeReadOnly() : cfg.fill());

        Network network(settingsPath);
        QSignalSpy refreshed(&network, &Network::networkRefreshed);
        network.setDhcp(false);
        network.setIp(QString(5000, '1')); // more than the page freed by truncating the old file
        const bool reloaded = network.reloadNetwork();
        QSettings settings(settingsPath, QSettings::IniFormat);
        const int systemReloaded = systemNetworkReload(settings);
        const QByteArray after = DeviceFiles::readFile(interfacePath);

        QVERIFY(!reloaded);
        QCOMPARE(systemReloaded, -1);
        QCOMPARE(refreshed.count(), 0);
        QCOMPARE(after, dhcpFile);
    }

private:
    static void fillFileSystem(const QString &path)
    {
        QFile filler(path);
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1024, 'x');
        while (filler.write(block) == block.size()) {
        }
    }
};

QUORVANT_TEST_MAIN(TestNetwork)
#include "tst_network.moc"
