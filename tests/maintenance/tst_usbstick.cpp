// The stick watcher in-process: finding the stick among the mounted volumes by its exact label,
// and the reset file it finds there (made the way an installer makes one, with openssl).

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wire/filecrypt.h"
#include "maintenance/playerusbstickmanager.h"
#include "system/systemmanager.h"
#include "tests/support/testmain.h"

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

bool labelStick(const QByteArray &label, const QByteArray &target = "../zr605-stick")
{
    ::unlink("/dev/disk/by-label/ZR605");
    ::unlink("/dev/disk/by-label/zr605");
    return ::symlink(target.constData(), ("/dev/disk/by-label/" + label).constData()) == 0;
}

} // namespace

class TestUsbStick : public QObject
{
    Q_OBJECT

    PlayerUsbStickManager *m_watcher = PlayerUsbStickManager::getInstance();

private slots:
    void cleanup()
    {
        ::umount("/media/rootdev");
        ::unlink("/overlay");
        labelStick("ZR605");
    }

    void stickIsFoundByExactLabelOnly_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("path");
        QTest::newRow("labelled ZR605") << "" << "/media/ZR605";
        QTest::newRow("lower-case label") << "lower" << "";
        QTest::newRow("volume on the root device") << "root" << "";
    }

    void stickIsFoundByExactLabelOnly()
    {
        QFETCH(QString, setup);
        QFETCH(QString, path);
        if (setup == "lower") {
            QVERIFY(labelStick("zr605"));
        } else if (setup == "root") {
            // The root file system's device ("overlay", resolved from /) carries the label and a
            // volume on that device is mounted: it is not the stick.
            QVERIFY(QDir::setCurrent("/") && ::mkfifo("/overlay", 0644) == 0 && labelStick("ZR605", "/overlay"));
            QVERIFY(QDir().mkpath("/media/rootdev") && ::mount("overlay", "/media/rootdev", "tmpfs", 0, "size=64k") == 0);
            QCOMPARE(QStorageInfo("/media/rootdev").name(), QString("ZR605"));
        }
        QCOMPARE(m_watcher->findUsbStick(), !path.isEmpty());
        QCOMPARE(m_watcher->usbStickPath(), path);
    }

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
        QVERIFY(m_watcher->findUsbStick());
        DeviceFiles::clearStick();
        DeviceFiles::writeSettings({ { "SN", "12345678" }, { "NAME", "Stage left" }, { "NET_MODE", "static" },
                                     { "NET_IP", "10.1.2.3" } });
        DeviceFiles::writeFile(passwordFile, oldPassword);
        DeviceFiles::writeFile(QStringLiteral("/cfg/eth0"), staticEth0);
        DeviceFiles::writeStickFile(QStringLiteral(".__zr605__reset"), file);
        Box::clearCommandLog();

        m_watcher->watchPendriveContent();

        QCOMPARE(QFile::exists(Box::stickPath() + "/.__zr605__reset"), !(effects & Applied));
        QCOMPARE(Box::commandLog().contains(QStringLiteral("reboot -f")), bool(effects & Applied));
        const QSettings settings(QStringLiteral("/cfg/settings.cfg"), QSettings::IniFormat);
        QCOMPARE(settings.value("NET_MODE").toString(), effects & NetworkReset ? "dhcp" : "static");
        QCOMPARE(settings.value("NAME").toString(), effects & NameReset ? "ZR605" : "Stage left");
        QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")),
                 effects & NetworkReset ? QByteArray("auto eth0\niface eth0 inet dhcp\n") : staticEth0);
        QCOMPARE(DeviceFiles::readFile(passwordFile), effects & PasswordReset ? md5Hex("12345678") : oldPassword);
    }

    // Without a stick there is nowhere to look: a reset file in the working directory stays unread.
    void withoutAStickNothingIsRead()
    {
        SystemManager::getInstance();
        m_watcher->setUsbStick(QStorageInfo());
        DeviceFiles::writeFile(QStringLiteral("/tmp/here/.__zr605__reset"), openssl(R"({"network": true})"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QStringLiteral("/tmp/here")));
        Box::clearCommandLog();
        m_watcher->watchPendriveContent();
        QDir::setCurrent(before);
        QVERIFY(QFile::exists(QStringLiteral("/tmp/here/.__zr605__reset")));
        QCOMPARE(Box::commandLog(), QStringList());
    }
};

QUORVANT_TEST_MAIN(TestUsbStick)
#include "tst_usbstick.moc"
