// The real daemon in the box with maintenance files on the stick: a reset file applied at start-up,
// and an update installed after the media-centre link comes up, notices shown on the television.

#include "maintenance/filecrypt.h"
#include "tests/support/box.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"
#include "tests/support/fakemediacentre.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest/QtTest>

class TestMaintenanceSystem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void resetFileAtStartUp_data();
    void resetFileAtStartUp();
    void updateAfterMediaCentreLink();

private:
    QStringList notices() const;

    FakeMediaCentre m_centre;
    DaemonProcess m_daemon;
};

void TestMaintenanceSystem::initTestCase()
{
    // The first start would otherwise ask for a file-system check and a reboot.
    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), QByteArray());
    QVERIFY(m_centre.listen());
}

void TestMaintenanceSystem::init()
{
    m_daemon.stop();
    m_centre.clearRequests();
    DeviceFiles::clearStick();
    DeviceFiles::writeStickConfig("showosd=true\n[playlist]\nsize=1\n1\\track=a.mp4\n");
    DeviceFiles::writeStickFile(QStringLiteral("a.mp4"), "media");
    DeviceFiles::writeSettings({ { "SN", "12345678" }, { "NET_MODE", "static" }, { "NET_IP", "192.168.77.2" },
                                 { "NET_MASK", "255.255.255.0" }, { "NET_ROUTE", "192.168.77.1" } });
    Box::clearCommandLog();
}

QStringList TestMaintenanceSystem::notices() const
{
    QStringList shown;
    for (const FakeMediaCentre::Request &request : m_centre.requests(QStringLiteral("GUI.ShowNotification")))
        shown << request.params().value("title").toString() + " / " + request.params().value("message").toString();
    return shown;
}

void TestMaintenanceSystem::resetFileAtStartUp_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<bool>("applied");
    QTest::newRow("network and password") << QByteArray(R"({"network":true,"password":true})") << true;
    QTest::newRow("no flag") << QByteArray(R"({"network":false})") << false;
}

void TestMaintenanceSystem::resetFileAtStartUp()
{
    QFETCH(QByteArray, plain);
    QFETCH(bool, applied);
    plain += QByteArray((16 - plain.size() % 16) % 16, '\0');
    DeviceFiles::writeStickFile(QStringLiteral(".__zr605__reset"), FileCrypt().encrypt(plain));
    DeviceFiles::writeFile(QStringLiteral("/cfg/.zr605_password.txt"), "0123456789abcdef0123456789abcdef");

    QVERIFY(m_daemon.start());
    // The media-centre link comes up only after start-up has looked at the stick.
    QTRY_VERIFY_WITH_TIMEOUT(m_centre.clientCount() > 0, 15000);

    const QString resetFile = Box::stickPath() + "/.__zr605__reset";
    QCOMPARE(QFile::exists(resetFile), !applied);
    QCOMPARE(Box::commandLog().contains(QStringLiteral("reboot -f")), applied);
    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/.zr605_password.txt")),
             applied ? QCryptographicHash::hash("12345678", QCryptographicHash::Md5).toHex()
                     : QByteArray("0123456789abcdef0123456789abcdef"));
    if (applied)
        QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")), QByteArray("auto eth0\niface eth0 inet dhcp\n"));
}

void TestMaintenanceSystem::updateAfterMediaCentreLink()
{
    const QByteArray program = "#!/bin/sh\necho new build\n";
    DeviceFiles::writeStickFile(QStringLiteral("update/quorvant"), program);
    DeviceFiles::writeStickFile(QStringLiteral("update/quorvant.md5"),
                                QCryptographicHash::hash(program, QCryptographicHash::Md5).toHex() + "  quorvant\n");

    QVERIFY(m_daemon.start());
    QTRY_VERIFY_WITH_TIMEOUT(Box::commandLog().contains(QStringLiteral("reboot -f")), 30000);

    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/quorvant")), program);
    QVERIFY(!QFile::exists(Box::stickPath() + "/update/quorvant"));
    QTRY_COMPARE_WITH_TIMEOUT(notices().filter(QRegularExpression("^(Update|Data verified)")),
                              QStringList({ "Update / Update files found. Running update...",
                                            "Data verified / Updating please wait", "Update success / Rebooting" }),
                              5000);
}

QUORVANT_TEST_MAIN(TestMaintenanceSystem)
#include "tst_maintenancesystem.moc"
