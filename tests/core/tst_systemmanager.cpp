// The system manager in-process: identity and stick keys, the password file preparation, the
// program runners, the service-unit repair and the copy of the live network state.

#include "system/network.h"
#include "system/systemmanager.h"
#include "tests/support/testmain.h"

namespace {

const QString settingsPath = QStringLiteral("/cfg/settings.cfg");
const QString passwordPath = QStringLiteral("/cfg/.zr605_password.txt");
const QString unitPath = QStringLiteral("/etc/systemd/system/quorvant.service");
const QString remountRw = QStringLiteral("mount -o remount,rw /dev/mmcblk0p2");
const QString remountRo = QStringLiteral("mount -o remount,ro /dev/mmcblk0p2");

} // namespace

class TestSystemManager : public QObject
{
    Q_OBJECT

    SystemManager *m_manager = nullptr;

private slots:
    void initTestCase()
    {
        DeviceFiles::writeStickConfig("channel=300\n");
        m_manager = SystemManager::getInstance(this);
    }

    void init() { Box::clearCommandLog(); }

    // The channel is read from the stick root, cut to 8 bits; a default is answered, not stored.
    void stickChannelAndDefaults()
    {
        QCOMPARE(int(m_manager->dmxChannel()), 44);
        QCOMPARE(m_manager->serialNumber(), QString("00000000"));
        QVERIFY(!QSettings(settingsPath, QSettings::IniFormat).contains("SN"));
    }

    void passwordFilePreparation_data()
    {
        QTest::addColumn<QVariant>("serial");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QByteArray>("expected"); // null: no file afterwards
        QTest::newRow("no serial: file removed again") << QVariant() << QByteArray() << QByteArray();
        QTest::newRow("serial: md5 hex") << QVariant("12345678") << QByteArray() << md5Hex("12345678");
        QTest::newRow("existing file kept") << QVariant("12345678") << QByteArray("kept") << QByteArray("kept");
    }

    void passwordFilePreparation()
    {
        QFETCH(QVariant, serial);
        QFETCH(QByteArray, existing);
        QFETCH(QByteArray, expected);
        QSettings settings(settingsPath, QSettings::IniFormat);
        settings.remove("SN");
        if (serial.isValid())
            settings.setValue("SN", serial);
        DeviceFiles::removeFile(passwordPath);
        if (!existing.isNull())
            DeviceFiles::writeFile(passwordPath, existing);

        m_manager->initPlayerSystem();

        QCOMPARE(QFile::exists(passwordPath), !expected.isNull());
        QCOMPARE(DeviceFiles::readFile(passwordPath), expected);
    }

    void executeAndReadOutputKeepsCompleteLines_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("output");
        QTest::newRow("last line without newline dropped") << "printf 'a\\nb\\nc'" << "a\nb\n";
        QTest::newRow("stderr does not hide stdout") << "echo out; echo err >&2; exit 1" << "out\n";
    }

    void executeAndReadOutputKeepsCompleteLines()
    {
        QFETCH(QString, script);
        QTEST(m_manager->executeAndReadOutput("sh", {"-c", script}), "output");
    }

    void serviceUnitRepair_data()
    {
        QTest::addColumn<QByteArray>("unit"); // null: no unit file
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QStringList>("commands"); // none: mount cannot even start
        const QStringList untouched{remountRw, remountRo};
        const QStringList rewritten{remountRw, "reboot -f"};
        const QByteArray complete = "[Unit]\nAfter=network.target sshd-keygen.service\n";
        QTest::newRow("already extended") << complete << complete << untouched;
        QTest::newRow("two lines, no final newline")
            << QByteArray("After=a\r\nWants=b\nAfter=sshd-keygen.service")
            << QByteArray("After=a network.target sshd-keygen.service\nWants=b\n"
                          "After=sshd-keygen.service network.target\n")
            << rewritten;
        QTest::newRow("indented or lower case untouched") << QByteArray(" After=a\nafter=b\n")
                                                          << QByteArray(" After=a\nafter=b\n") << untouched;
        QTest::newRow("no unit") << QByteArray() << QByteArray() << untouched;
        QTest::newRow("remount cannot run") << QByteArray("After=a\n") << QByteArray("After=a\n") << QStringList();
    }

    void serviceUnitRepair()
    {
        QFETCH(QByteArray, unit);
        QFETCH(QStringList, commands);
        DeviceFiles::removeFile(unitPath);
        if (!unit.isNull())
            DeviceFiles::writeFile(unitPath, unit);
        const QByteArray path = qgetenv("PATH");
        if (commands.isEmpty())
            qputenv("PATH", "/nonexistent");
        m_manager->changeApplicationServiceConfiguration();
        qputenv("PATH", path);
        QTEST(DeviceFiles::readFile(unitPath), "expected");
        QCOMPARE(Box::commandLog(), commands);
    }

    // From the real ifconfig and route in the box, taken away row by row; the interface file is not
    // touched. Without an address the daemon started before the network: the unit is made to wait
    // for it and the device reboots, the stored settings stay as they were.
    void liveNetworkState_data()
    {
        QTest::addColumn<QStringList>("ipFirst"); // run with the real ip before reading
        QTest::addColumn<QString>("state");       // address, netmask and gateway afterwards
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("address and route") << QStringList() << "192.168.77.2 255.255.255.0 192.168.77.1" << QStringList();
        QTest::newRow("no default route") << QStringList{"route", "del", "default"} << "192.168.77.2 255.255.255.0 "
                                          << QStringList();
        QTest::newRow("no address") << QStringList{"addr", "flush", "dev", "eth0"} << "10.0.0.5 255.0.0.0 10.0.0.1"
                                    << QStringList{remountRw, "reboot -f"};
    }

    void liveNetworkState()
    {
        QFETCH(QStringList, ipFirst);
        QVERIFY(ipFirst.isEmpty() || QProcess::execute(Box::realProgram("ip"), ipFirst) == 0);
        Network *network = m_manager->network();
        network->setDhcp(true);
        network->setIp("10.0.0.5");
        network->setSubnetMask(8);
        network->setGateway("10.0.0.1");
        DeviceFiles::writeFile(unitPath, "After=local-fs.target\n");
        network->updateSettings();
        QTEST(network->getIp() + ' ' + network->getSubnetMaskString() + ' ' + network->getGateway(), "state");
        QVERIFY(network->getDhcp() && !QFile::exists("/cfg/eth0"));
        QTEST(Box::commandLog(), "commands"); // a reboot only follows a rewritten unit
    }
};

QUORVANT_TEST_MAIN(TestSystemManager)
#include "tst_systemmanager.moc"
