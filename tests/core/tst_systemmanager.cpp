// The system manager in-process: identity and stick keys, the password file preparation, the
// program runners and the service-unit repair.

#include <QtTest>

#include "link/authorizeuser.h"
#include "system/systemmanager.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

namespace {

const QString settingsPath = QStringLiteral("/cfg/settings.cfg");
const QString stickConfigPath = QStringLiteral("/media/ZR605/config.ini");
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

    void stickConfigurationIsReadFromTheStickRoot() { QCOMPARE(int(m_manager->dmxChannel()), 44); }

    void identityDefaultsAndSharedView()
    {
        QSettings other(settingsPath, QSettings::IniFormat);
        other.remove("SN");
        other.remove("NAME");
        QCOMPARE(m_manager->serialNumber(), QString("00000000"));
        QCOMPARE(m_manager->deviceName(), QString("ZR605"));
        QVERIFY(!other.contains("SN"));

        m_manager->setDeviceName("Hall B");
        QCOMPARE(m_manager->deviceName(), QString("Hall B"));
        QCOMPARE(QSettings(settingsPath, QSettings::IniFormat).value("NAME").toString(), QString("Hall B"));
    }

    void stickKeys_data()
    {
        QTest::addColumn<QVariantMap>("values");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("udpControl");
        QTest::newRow("defaults") << QVariantMap{} << 1 << 5555 << false;
        QTest::newRow("channel wraps at 256") << QVariantMap{{"channel", 256}} << 0 << 5555 << false;
        QTest::newRow("channel 257") << QVariantMap{{"channel", 257}} << 1 << 5555 << false;
        QTest::newRow("udp set") << QVariantMap{{"channel", 12}, {"udpport", 6000}, {"udpcontrol", "true"}}
                                 << 12 << 6000 << true;
    }

    void stickKeys()
    {
        QFETCH(QVariantMap, values);
        QSettings stick(stickConfigPath, QSettings::IniFormat);
        stick.clear();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            stick.setValue(it.key(), it.value());
        QTEST(int(m_manager->dmxChannel()), "channel");
        QTEST(m_manager->udpPort(), "port");
        QTEST(m_manager->udpControl(), "udpControl");
    }

    void setDmxChannelWritesTheStickConfiguration()
    {
        m_manager->setDmxChannel(7);
        QCOMPARE(QSettings(stickConfigPath, QSettings::IniFormat).value("channel").toInt(), 7);
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
        if (serial.isValid())
            settings.setValue("SN", serial);
        else
            settings.remove("SN");
        if (existing.isNull())
            DeviceFiles::removeFile(passwordPath);
        else
            DeviceFiles::writeFile(passwordPath, existing);

        m_manager->initPlayerSystem();

        QCOMPARE(QFile::exists(passwordPath), !expected.isNull());
        QCOMPARE(DeviceFiles::readFile(passwordPath), expected);
        if (existing.isNull() && !expected.isNull())
            QVERIFY(m_manager->authorizeUser()->comparePasswordHash(expected));
    }

    void systemCommandsRunTheirPrograms_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("recorded");
        QTest::newRow("remount read-only") << "ro" << "mount" << "mount -o remount,ro /dev/sdz1";
        QTest::newRow("remount read-write") << "rw" << "mount" << "mount -o remount,rw /dev/sdz1";
        QTest::newRow("flush") << "flush" << "ip" << "ip addr flush dev eth0";
        QTest::newRow("restart networking") << "reload" << "systemctl" << "systemctl restart networking";
        QTest::newRow("reboot") << "reboot" << "reboot" << "reboot -f";
    }

    void systemCommandsRunTheirPrograms()
    {
        QFETCH(QString, operation);
        QFETCH(QString, program);
        QFETCH(QString, recorded);
        Box::setExitCode(program, 3);
        int result = 0;
        if (operation == "ro" || operation == "rw")
            result = m_manager->changeReadWriteSystem("/dev/sdz1", operation == "ro");
        else if (operation == "flush")
            result = m_manager->flushNetworkService();
        else if (operation == "reload")
            result = m_manager->reloadNetworkServices();
        else
            result = m_manager->rebootSystem();
        Box::setExitCode(program, 0);
        QCOMPARE(Box::commandLog(), QStringList{recorded});
        QCOMPARE(result, 3);
    }

    void executeReportsResultCodes_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("result");
        QTest::newRow("success") << "true" << QStringList{} << 0;
        QTest::newRow("exit code") << "sh" << QStringList{"-c", "exit 7"} << 7;
        QTest::newRow("crash") << "sh" << QStringList{"-c", "kill -SEGV $$"} << -1;
        QTest::newRow("not started") << "/nonexistent/program" << QStringList{} << -2;
    }

    void executeReportsResultCodes()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QTEST(m_manager->execute(program, arguments), "result");
    }

    void executeAndReadOutputKeepsCompleteLines_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("output");
        QTest::newRow("complete lines") << "printf 'a\\nb\\n'" << "a\nb\n";
        QTest::newRow("last line without newline dropped") << "printf 'a\\nb'" << "a\n";
        QTest::newRow("stderr does not hide stdout") << "echo out; echo err >&2; exit 1" << "out\n";
        QTest::newRow("utf-8") << "printf '\\305\\274\\n'" << QString::fromUtf8("\u017c\n");
        QTest::newRow("nothing") << "true" << "";
    }

    void executeAndReadOutputKeepsCompleteLines()
    {
        QFETCH(QString, script);
        QTEST(m_manager->executeAndReadOutput("sh", {"-c", script}), "output");
    }

    void executeAndReadOutputOfMissingProgramIsEmpty()
    {
        QCOMPARE(m_manager->executeAndReadOutput("/nonexistent/program", {}), QString());
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
        QTest::newRow("neither target, no final newline")
            << QByteArray("[Unit]\nAfter=local-fs.target\n[Service]\nExecStart=/cfg/quorvant")
            << QByteArray("[Unit]\nAfter=local-fs.target network.target sshd-keygen.service\n"
                          "[Service]\nExecStart=/cfg/quorvant\n")
            << rewritten;
        QTest::newRow("only network named") << QByteArray("After=network.target\r\n")
                                           << QByteArray("After=network.target sshd-keygen.service\n")
                                           << rewritten;
        QTest::newRow("two After lines")
            << QByteArray("After=a\nWants=b\nAfter=sshd-keygen.service\n")
            << QByteArray("After=a network.target sshd-keygen.service\nWants=b\n"
                          "After=sshd-keygen.service network.target\n")
            << rewritten;
        QTest::newRow("indented line untouched") << QByteArray("  After=a\n") << QByteArray("  After=a\n")
                                                << untouched;
        QTest::newRow("case-sensitive key") << QByteArray("after=a\n") << QByteArray("after=a\n") << untouched;
        QTest::newRow("no unit") << QByteArray() << QByteArray() << untouched;
    }

    void serviceUnitRepair()
    {
        QFETCH(QByteArray, unit);
        if (unit.isNull())
            DeviceFiles::removeFile(unitPath);
        else
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
};

QUORVANT_TEST_MAIN(TestSystemManager)
#include "tst_systemmanager.moc"
