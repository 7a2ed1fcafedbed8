// The system manager in-process: identity and stick keys, the password file preparation, the
// program runners, the service-unit repair and the copy of the live network state.

#include <QtTest>

#include "link/authorizeuser.h"
#include "system/network.h"
#include "system/systemmanager.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

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

    void identityAndStickKeys()
    {
        QCOMPARE(int(m_manager->dmxChannel()), 44); // 300 cut to 8 bits, read from the stick root
        QCOMPARE(m_manager->udpPort(), 5555);
        QCOMPARE(m_manager->udpControl(), false);
        QCOMPARE(m_manager->serialNumber(), QString("00000000"));
        QCOMPARE(m_manager->deviceName(), QString("ZR605"));
        QVERIFY(!QSettings(settingsPath, QSettings::IniFormat).contains("SN"));

        m_manager->setDeviceName("Hall B");
        m_manager->setDmxChannel(7);
        QCOMPARE(QSettings(settingsPath, QSettings::IniFormat).value("NAME").toString(), QString("Hall B"));
        QCOMPARE(QSettings(Box::stickPath() + "/config.ini", QSettings::IniFormat).value("channel").toInt(), 7);
    }

    void passwordFilePreparation_data()
    {
        QTest::addColumn<QVariant>("serial");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QByteArray>("expected"); // null: no file afterwards
        const QByteArray md5 = QCryptographicHash::hash("12345678", QCryptographicHash::Md5).toHex();
        QTest::newRow("no serial: file removed again") << QVariant() << QByteArray() << QByteArray();
        QTest::newRow("serial: md5 hex") << QVariant("12345678") << QByteArray() << md5;
        QTest::newRow("serial stored as number") << QVariant(12345678u) << QByteArray() << md5;
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
        QCOMPARE(m_manager->authorizeUser()->comparePasswordHash(expected), existing.isNull());
    }

    void systemCommandsPassOnTheExitCode()
    {
        const QStringList programs{"mount", "ip", "systemctl", "reboot"};
        for (const QString &program : programs)
            Box::setExitCode(program, 3);
        const QList<int> results{m_manager->changeReadWriteSystem("/dev/sdz1", true),
                                 m_manager->changeReadWriteSystem("/dev/sdz1", false),
                                 m_manager->flushNetworkService(), m_manager->reloadNetworkServices(),
                                 m_manager->rebootSystem(), m_manager->execute("sh", {"-c", "kill -SEGV $$"}),
                                 m_manager->execute("/nonexistent/program", {})};
        for (const QString &program : programs)
            Box::setExitCode(program, 0);
        QCOMPARE(results, QList<int>({3, 3, 3, 3, 3, -1, -2}));
        QCOMPARE(Box::commandLog(), (QStringList{"mount -o remount,ro /dev/sdz1", "mount -o remount,rw /dev/sdz1",
                                                 "ip addr flush dev eth0", "systemctl restart networking",
                                                 "reboot -f"}));
    }

    void executeAndReadOutputKeepsCompleteLines_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("output");
        QTest::newRow("last line without newline dropped") << "printf 'a\\nb\\nc'" << "a\nb\n";
        QTest::newRow("stderr does not hide stdout") << "echo out; echo err >&2; exit 1" << "out\n";
        QTest::newRow("utf-8") << "printf '\\305\\274\\n'" << QString::fromUtf8("\u017c\n");
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
        QTest::addColumn<QStringList>("commands");
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
    }

    void serviceUnitRepair()
    {
        QFETCH(QByteArray, unit);
        DeviceFiles::removeFile(unitPath);
        if (!unit.isNull())
            DeviceFiles::writeFile(unitPath, unit);
        m_manager->changeApplicationServiceConfiguration();
        QTEST(DeviceFiles::readFile(unitPath), "expected");
        QTEST(Box::commandLog(), "commands");
    }

    void serviceUnitRepairStopsWhenRemountCannotRun()
    {
        DeviceFiles::writeFile(unitPath, "After=a\n");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        m_manager->changeApplicationServiceConfiguration();
        qputenv("PATH", path);
        QCOMPARE(DeviceFiles::readFile(unitPath), QByteArray("After=a\n"));
        QVERIFY(Box::commandLog().isEmpty());
    }

    // From the real ifconfig and route in the box; the interface file is not touched.
    void liveNetworkStateIsCopiedIntoTheSettings()
    {
        Network *network = m_manager->network();
        network->setDhcp(true);
        network->updateSettings();
        QCOMPARE(network->getIp(), QString("192.168.77.2"));
        QCOMPARE(network->getSubnetMaskString(), QString("255.255.255.0"));
        QCOMPARE(network->getGateway(), QString("192.168.77.1"));
        QVERIFY(network->getDhcp() && !QFile::exists("/cfg/eth0"));

        QCOMPARE(QProcess::execute(Box::realProgram("ip"), {"route", "del", "default"}), 0);
        network->updateSettings();
        QCOMPARE(network->getGateway(), QString());
    }

    // No address: the daemon started before the network, so the unit is made to wait for it and
    // the device reboots; the stored settings stay as they were.
    void emptyLiveAddressRepairsServiceUnitAndReboots()
    {
        QCOMPARE(QProcess::execute(Box::realProgram("ip"), {"addr", "flush", "dev", "eth0"}), 0);
        Network *network = m_manager->network();
        network->setIp("10.0.0.5");
        DeviceFiles::writeFile(unitPath, "After=local-fs.target\n");
        QSignalSpy empty(network, &Network::emptyNetworkConfigurationRead);

        network->updateSettings();

        QCOMPARE(empty.count(), 1);
        QCOMPARE(network->getIp(), QString("10.0.0.5"));
        QCOMPARE(DeviceFiles::readFile(unitPath), QByteArray("After=local-fs.target network.target sshd-keygen.service\n"));
        QCOMPARE(Box::commandLog(), (QStringList{remountRw, "reboot -f"}));
    }
};

QUORVANT_TEST_MAIN(TestSystemManager)
#include "tst_systemmanager.moc"
