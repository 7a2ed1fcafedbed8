#include "maintenance/filecrypt.h"
#include "maintenance/playerusbstickmanager.h"
#include "system/systemmanager.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSettings>
#include <QtTest/QtTest>

namespace {

const QString resetFile = QStringLiteral("/media/ZR605/.__zr605__reset");
const QString passwordFile = QStringLiteral("/cfg/.zr605_password.txt");
const QByteArray staticEth0 = "auto eth0\niface eth0 inet static\naddress 10.1.2.3\nnetmask 255.255.0.0\n"
                              "gateway 10.1.0.1\ndns-nameservers 10.1.0.1\n";

// The way an installer makes a reset file by hand: zero-filled JSON through openssl.
QByteArray opensslEncrypt(QByteArray plain, const QByteArray &key)
{
    plain.append(QByteArray((16 - plain.size() % 16) % 16, '\0'));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), { QStringLiteral("enc"), QStringLiteral("-aes-128-ecb"),
                                               QStringLiteral("-nopad"), QStringLiteral("-K"),
                                               QString::fromLatin1(key.toHex()) });
    openssl.write(plain);
    openssl.closeWriteChannel();
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        qFatal("openssl failed: %s", openssl.readAllStandardError().constData());
    return openssl.readAllStandardOutput();
}

QString setting(const QString &key)
{
    return QSettings(QStringLiteral("/cfg/settings.cfg"), QSettings::IniFormat).value(key).toString();
}

} // namespace

class TestResetFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void resetFileOnStick_data();
    void resetFileOnStick();

private:
    PlayerUsbStickManager *m_stick = nullptr;
};

void TestResetFiles::initTestCase()
{
    // The system manager wires the stick watcher to the network, the password store and the reboot.
    SystemManager::getInstance();
    m_stick = PlayerUsbStickManager::getInstance();
    QVERIFY(m_stick->findUsbStick());
}

void TestResetFiles::init()
{
    DeviceFiles::clearStick();
    DeviceFiles::writeSettings({ { "SN", "12345678" }, { "NAME", "Stage left" }, { "NET_MODE", "static" },
                                 { "NET_IP", "10.1.2.3" }, { "NET_MASK", "255.255.0.0" },
                                 { "NET_ROUTE", "10.1.0.1" } });
    DeviceFiles::writeFile(passwordFile, "0123456789abcdef0123456789abcdef");
    DeviceFiles::writeFile(QStringLiteral("/cfg/eth0"), staticEth0);
    Box::clearCommandLog();
}

void TestResetFiles::resetFileOnStick_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<bool>("networkReset");
    QTest::addColumn<bool>("passwordReset");
    QTest::addColumn<bool>("nameReset");

    const QByteArray key = FileCrypt::fixedKey();
    const QByteArray otherKey = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");

    QTest::newRow("network") << opensslEncrypt(R"({"network": true})", key) << true << true << false << false;
    QTest::newRow("password") << opensslEncrypt(R"({"password": true})", key) << true << false << true << false;
    QTest::newRow("both resets the name too")
        << opensslEncrypt(R"({"network": true, "password": true})", key) << true << true << true << true;
    QTest::newRow("both false") << opensslEncrypt(R"({"network": false, "password": false})", key) << false
                                << false << false << false;
    QTest::newRow("no members") << opensslEncrypt("{}", key) << false << false << false << false;
    QTest::newRow("number flag") << opensslEncrypt(R"({"network": 1})", key) << false << false << false << false;
    QTest::newRow("string flag beside a true one")
        << opensslEncrypt(R"({"network": "true", "password": true})", key) << true << false << true << false;
    QTest::newRow("array") << opensslEncrypt("[true, true]", key) << false << false << false << false;
    QTest::newRow("several blocks with extra members")
        << opensslEncrypt(R"({ "comment": "installed by the rental desk, stage left", "network": true })", key)
        << true << true << false << false;
    QTest::newRow("ISO fill") << opensslEncrypt(QByteArray(R"({"network":true})") + '\x80', key) << false
                              << false << false << false;
    QTest::newRow("wrong key") << opensslEncrypt(R"({"network": true})", otherKey) << false << false << false
                               << false;
    QTest::newRow("empty file") << QByteArray() << false << false << false << false;
    QTest::newRow("not whole blocks") << opensslEncrypt(R"({"network": true})", key) + 'x' << false << false
                                      << false << false;
    QTest::newRow("over 64 KiB") << opensslEncrypt(QByteArray(R"({"network": true})") + QByteArray(70000, '\0'), key)
                                 << false << false << false << false;
}

void TestResetFiles::resetFileOnStick()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(bool, applied);
    QFETCH(bool, networkReset);
    QFETCH(bool, passwordReset);
    QFETCH(bool, nameReset);
    DeviceFiles::writeStickFile(QStringLiteral(".__zr605__reset"), fileBytes);

    m_stick->watchPendriveContent();

    QCOMPARE(QFile::exists(resetFile), !applied);
    QCOMPARE(Box::commandLog().contains(QStringLiteral("reboot -f")), applied);

    QCOMPARE(setting("NET_MODE"), networkReset ? QStringLiteral("dhcp") : QStringLiteral("static"));
    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")),
             networkReset ? QByteArray("auto eth0\niface eth0 inet dhcp\n") : staticEth0);
    QCOMPARE(setting("NET_IP"), QStringLiteral("10.1.2.3"));

    const QByteArray defaultPassword = QCryptographicHash::hash("12345678", QCryptographicHash::Md5).toHex();
    QCOMPARE(DeviceFiles::readFile(passwordFile),
             passwordReset ? defaultPassword : QByteArray("0123456789abcdef0123456789abcdef"));
    QCOMPARE(setting("NAME"), nameReset ? QStringLiteral("ZR605") : QStringLiteral("Stage left"));
}

QUORVANT_TEST_MAIN(TestResetFiles)
#include "tst_resetfiles.moc"
