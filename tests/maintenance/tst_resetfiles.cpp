#include "maintenance/filecrypt.h"
#include "maintenance/playerusbstickmanager.h"
#include "system/systemmanager.h"
#include "tests/support/testmain.h"
#include "tools/standins/devicefiles.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSettings>
#include <QtTest/QtTest>

namespace {
enum Effect { Applied = 1, NetworkReset = 2, PasswordReset = 4, NameReset = 8 };
const QString passwordFile = QStringLiteral("/cfg/.zr605_password.txt");
const QByteArray oldPassword = "0123456789abcdef0123456789abcdef";
const QByteArray staticEth0 = "auto eth0\niface eth0 inet static\naddress 10.1.2.3\n";

// The way an installer makes a reset file by hand: zero-filled JSON through openssl.
QByteArray openssl(QByteArray plain)
{
    plain.append(QByteArray((16 - plain.size() % 16) % 16, '\0'));
    QProcess process;
    process.start("openssl", { "enc", "-aes-128-ecb", "-nopad", "-K", QString::fromLatin1(FileCrypt::fixedKey().toHex()) });
    process.write(plain);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qFatal("openssl failed");
    return process.readAllStandardOutput();
}
} // namespace

class TestResetFiles : public QObject
{
    Q_OBJECT
private slots:
    void resetFileOnStick_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("effects");
        const QByteArray network = R"({"network": true})";
        QTest::newRow("network") << openssl(network) << (Applied | NetworkReset);
        QTest::newRow("both reset the name too") << openssl(R"({"network": true, "password": true})")
                                                 << (Applied | NetworkReset | PasswordReset | NameReset);
        QTest::newRow("neither") << openssl(R"({"network": false, "password": false})") << 0;
        QTest::newRow("password; a string is no flag") << openssl(R"({"network": "true", "password": true})")
                                                        << (Applied | PasswordReset);
        QTest::newRow("array") << openssl("[true, true]") << 0;
        QTest::newRow("ISO fill") << openssl(network + '\x80') << 0;
        QTest::newRow("empty file") << QByteArray() << 0;
        QTest::newRow("over 64 KiB") << openssl(network + QByteArray(70000, '\0')) << 0;
    }

    void resetFileOnStick()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, effects);
        // The system manager wires the stick watcher to the network, the password store and the reboot.
        SystemManager::getInstance();
        PlayerUsbStickManager *stick = PlayerUsbStickManager::getInstance();
        QVERIFY(stick->findUsbStick());
        DeviceFiles::clearStick();
        DeviceFiles::writeSettings({ { "SN", "12345678" }, { "NAME", "Stage left" }, { "NET_MODE", "static" },
                                     { "NET_IP", "10.1.2.3" } });
        DeviceFiles::writeFile(passwordFile, oldPassword);
        DeviceFiles::writeFile(QStringLiteral("/cfg/eth0"), staticEth0);
        DeviceFiles::writeStickFile(QStringLiteral(".__zr605__reset"), file);
        Box::clearCommandLog();

        stick->watchPendriveContent();

        QCOMPARE(QFile::exists(Box::stickPath() + "/.__zr605__reset"), !(effects & Applied));
        QCOMPARE(Box::commandLog().contains(QStringLiteral("reboot -f")), bool(effects & Applied));
        const QSettings settings(QStringLiteral("/cfg/settings.cfg"), QSettings::IniFormat);
        QCOMPARE(settings.value("NET_MODE").toString(), effects & NetworkReset ? "dhcp" : "static");
        QCOMPARE(settings.value("NAME").toString(), effects & NameReset ? "ZR605" : "Stage left");
        QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")),
                 effects & NetworkReset ? QByteArray("auto eth0\niface eth0 inet dhcp\n") : staticEth0);
        QCOMPARE(DeviceFiles::readFile(passwordFile),
                 effects & PasswordReset ? QCryptographicHash::hash("12345678", QCryptographicHash::Md5).toHex() : oldPassword);
    }
};

QUORVANT_TEST_MAIN(TestResetFiles)
#include "tst_resetfiles.moc"
