// The mask helpers and the password store, and writes of the interface and password files that
// fail. What the TCP handlers write and compare is proven in their tests.

#include <sys/mount.h>

#include "link/authorizeuser.h"
#include "system/atomicfile.h"
#include "system/network.h"
#include "system/networkconfigurator.h"
#include "tests/support/testmain.h"

namespace {

// Kept off /cfg, so that a full or read-only /cfg only hits the file under test.
const QString settingsPath = QStringLiteral("/tmp/network-settings.cfg");
const QString interfacePath = QStringLiteral("/cfg/eth0");
const QString passwordPath = QStringLiteral("/cfg/.zr605_password.txt");
const QByteArray dhcpFile = "auto eth0\niface eth0 inet dhcp\n";
const QByteArray digest = "25d55ad283aa400af464c76d713c07ad"; // MD5 of "12345678"

const QString cfgSettingsPath = QStringLiteral("/cfg/settings.cfg");
const QByteArray storedSettings = "[General]\nSN=12345678\nNAME=Old name\nNET_MODE=static\nNET_IP=192.168.1.23\n"
                                  "NET_MASK=255.255.255.0\nNET_ROUTE=192.168.1.1\n";

// A /cfg of sixteen pages holding `path`, with all but `freePages` of the rest taken.
bool mountSmallCfg(const QString &path, const QByteArray &content, int freePages = 0)
{
    if (::mount("cfg-small", "/cfg", "tmpfs", 0, "size=64k") != 0)
        return false;
    DeviceFiles::writeFile(path, content);
    // A time of its own, so that what QSettings read of the last case's file is not taken for this one.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.setFileTime(QDateTime(QDate(2020, 1, 1 + freePages), QTime(0, 0)), QFileDevice::FileModificationTime))
        return false;
    QFile filler("/cfg/filler");
    filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    while (filler.write(QByteArray(4096, 'x')) == 4096) {
    }
    return filler.resize(qMax<qint64>(0, filler.size() - 4096 * freePages));
}

// What the file on the disk holds, read through a path of its own (QSettings objects on one path
// share what they read).
QVariantMap settingsOnDisk(const QString &path)
{
    const QString copy = QStringLiteral("/tmp/settings-on-disk-%1.cfg").arg(QRandomGenerator::global()->generate());
    DeviceFiles::writeFile(copy, DeviceFiles::readFile(path));
    QVariantMap values;
    {
        const QSettings settings(copy, QSettings::IniFormat);
        for (const QString &key : settings.allKeys())
            values.insert(key, settings.value(key));
    }
    QFile::remove(copy);
    return values;
}

} // namespace

class TestConfigFiles : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { ::umount("/cfg"); }

    void maskAndPrefix_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<int>("prefix");
        QTest::addColumn<bool>("roundTrip");
        QTest::newRow("/25") << "255.255.255.128" << 25 << true;
        QTest::newRow("/0") << "0.0.0.0" << 0 << true;
        QTest::newRow("/32") << "255.255.255.255" << 32 << true;
        QTest::newRow("non-contiguous scored per part") << "255.0.255.0" << 16 << false;
        QTest::newRow("empty") << "" << 0 << false;
    }

    void maskAndPrefix()
    {
        QFETCH(QString, mask);
        QFETCH(int, prefix);
        QFETCH(bool, roundTrip);
        QCOMPARE(int(Network::maskToCidr(mask)), prefix);
        if (roundTrip)
            QCOMPARE(Network::cidrToMask(uint8_t(prefix)), mask);
        QCOMPARE(Network::cidrToMask(40), QString("255.255.255.255"));
    }

    // Compared up to the first NUL byte; an exact and an upper-case login go through the server.
    void login_data()
    {
        QTest::addColumn<QByteArray>("record"); // null: no password file
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("record with line break") << digest + '\n' << digest << false;
        QTest::newRow("zero-padded field") << QByteArray("abc") << QByteArray("abc") + QByteArray(29, '\0') << true;
        QTest::newRow("no file, empty field") << QByteArray() << QByteArray(32, '\0') << true;
    }

    void login()
    {
        QFETCH(QByteArray, record);
        QFETCH(QByteArray, field);
        DeviceFiles::removeFile(passwordPath);
        if (!record.isNull())
            DeviceFiles::writeFile(passwordPath, record);
        QTEST(AuthorizeUser().comparePasswordHash(field), "accepted");
    }

    // A write that cannot complete keeps the complete old file and reports failure. The new
    // content is longer than the page that truncating the old file in place would free.
    void failedWriteOnFullDiskKeepsTheOldFile()
    {
        QVERIFY(mountSmallCfg(interfacePath, dhcpFile));
        Network network(settingsPath);
        QSignalSpy refreshed(&network, &Network::networkRefreshed);
        network.setDhcp(false);
        network.setIp(QString(5000, '1'));
        QVERIFY(!network.reloadNetwork());
        QSettings settings(settingsPath, QSettings::IniFormat);
        QCOMPARE(systemNetworkReload(settings), -1);
        QCOMPARE(refreshed.count(), 0);
        QCOMPARE(DeviceFiles::readFile(interfacePath), dhcpFile);
        QVERIFY(::umount("/cfg") == 0);

        QVERIFY(mountSmallCfg(passwordPath, digest));
        AuthorizeUser store;
        QVERIFY(!store.updatePassword(QByteArray(6000, 'a')));
        QCOMPARE(DeviceFiles::readFile(passwordPath), digest);
        QVERIFY(store.comparePasswordHash(digest));
    }

    void interfaceFileIsReadAsTheNetworkingServiceReadsIt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read"); // mode, address, netmask, gateway; empty: not our stanza
        QTest::newRow("as the box writes it") << QByteArray("auto eth0\niface eth0 inet static\naddress 10.0.0.2\n"
            "netmask 255.0.0.0\ngateway 10.0.0.1\ndns-nameservers 10.0.0.1\n") << "static 10.0.0.2 255.0.0.0 10.0.0.1";
        // An indented stanza used to read as static with no address, netmask or gateway.
        QTest::newRow("options indented by spaces") << QByteArray("auto eth0\niface eth0 inet static\n    address 10.0.0.2\n"
            "    netmask 255.0.0.0\n    gateway 10.0.0.1\n") << "static 10.0.0.2 255.0.0.0 10.0.0.1";
        QTest::newRow("tabs, blanks and empty lines") << QByteArray("auto  eth0\r\n\niface\teth0 inet  static \n\taddress\t10.0.0.2\n"
            "\t\n\tnetmask   255.0.0.0\n\tgateway 10.0.0.1  \n") << "static 10.0.0.2 255.0.0.0 10.0.0.1";
        QTest::newRow("dhcp") << QByteArray("auto eth0\niface eth0 inet dhcp\n") << "dhcp   ";
        QTest::newRow("another interface") << QByteArray("auto eth1\niface eth1 inet dhcp\n") << "";
        QTest::newRow("stanza without auto line") << QByteArray("allow-hotplug eth0\niface eth0 inet dhcp\n") << "";
    }

    void interfaceFileIsReadAsTheNetworkingServiceReadsIt()
    {
        QFETCH(QByteArray, content);
        NetworkConfigurator::Stanza stanza;
        const bool ours = NetworkConfigurator::parseInterfaceFile(content, &stanza);
        const QStringList fields{stanza.modeWord, stanza.ip, stanza.mask, stanza.gateway};
        QTEST(ours ? fields.join(' ') : QString(), "read");
    }

    void settingsWriteOnFullDiskKeepsEveryOtherValue_data()
    {
        QTest::addColumn<int>("freePages");
        QTest::addColumn<bool>("stored");
        QTest::newRow("no page free: refused") << 0 << false;
        // One page held the settings written short (empty) and reported stored; the serial number
        // and the network settings were gone.
        QTest::newRow("one page free") << 1 << true;
        QTest::newRow("two pages free") << 2 << true;
    }

    // Whatever the outcome, the file keeps every value, the name is new exactly when it was reported
    // stored, and a reader that was open all along reads what the file holds.
    void settingsWriteOnFullDiskKeepsEveryOtherValue()
    {
        QFETCH(int, freePages);
        QFETCH(bool, stored);
        QVERIFY(mountSmallCfg(cfgSettingsPath, storedSettings, freePages));
        const QSettings reader(cfgSettingsPath, QSettings::IniFormat);
        QCOMPARE(reader.value("NAME").toString(), QString("Old name"));
        QCOMPARE(AtomicFile::storeSettings(cfgSettingsPath, {{"NAME", "New name"}}), stored);
        const QVariantMap onDisk = settingsOnDisk(cfgSettingsPath);
        QCOMPARE(onDisk.value("SN").toString(), QString("12345678"));
        QCOMPARE(onDisk.value("NET_IP").toString(), QString("192.168.1.23"));
        QCOMPARE(onDisk.value("NET_ROUTE").toString(), QString("192.168.1.1"));
        QCOMPARE(onDisk.value("NAME").toString(), QString(stored ? "New name" : "Old name"));
        QCOMPARE(onDisk.size(), 6);
        QCOMPARE(reader.value("NAME"), onDisk.value("NAME"));
        QVERIFY(!QFile::exists(cfgSettingsPath + ".lock"));
    }

    // Writes of the same size, one right after the other: each is read by a reader open all along,
    // whose cache looks only at the file's size and time (to the millisecond).
    void readersFollowBackToBackWrites()
    {
        DeviceFiles::writeFile(cfgSettingsPath, storedSettings);
        const QSettings reader(cfgSettingsPath, QSettings::IniFormat);
        for (const QString name : {"Name A", "Name B", "Name C", "Name D"}) {
            QVERIFY(AtomicFile::storeSettings(cfgSettingsPath, {{"NAME", name}}));
            QCOMPARE(reader.value("NAME").toString(), name);
        }
        QCOMPARE(reader.value("SN").toString(), QString("12345678"));
    }
};

QUORVANT_TEST_MAIN(TestConfigFiles)
#include "tst_configfiles.moc"
