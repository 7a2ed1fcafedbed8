// quorvant-ctl on the tool host against the real daemon in the box: every command, its decoded
// answer, and what the box did about it.

#include "maintenance/filecrypt.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"
#include "tests/support/ctlprocess.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"
#include "tests/support/fakemediacentre.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QtTest/QtTest>

namespace {

const QString settingsPath = QStringLiteral("/cfg/settings.cfg");
const QString serial = QStringLiteral("12345678");

QString host()
{
    return Box::boxAddress().toString();
}

QByteArray md5Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QVariant setting(const QString &key)
{
    return QSettings(settingsPath, QSettings::IniFormat).value(key);
}

CtlProcess::Result ctl(const QStringList &arguments)
{
    const CtlProcess::Result result = CtlProcess::run(arguments);
    if (result.exitCode != 0)
        qWarning("quorvant-ctl %s: exit %d: %s", qPrintable(arguments.join(' ')), result.exitCode, result.err.constData());
    return result;
}

bool logHas(const QString &line)
{
    return Box::commandLog().contains(line);
}

} // namespace

class TestCtlSystem : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void discoverListsTheBox();
    void searchAddsSettingsAndStick();
    void networkShowsSettingsWithFactoryPassword();
    void wrongPasswordIsRefused();
    void deviceStoresChannelAndName();
    void filesListsThePlaylist();
    void controlLevelsReachThePlayer();
    void passwordChangeTakesEffect();
    void setSerialIsStored();
    void staticNetworkIsWrittenAndBoxReboots();
    void dhcpKeepsStaticValues();
    void rebootWithAndWithoutAck();
    void filesRemoveClearsTheStick();
    void resetFileIsAppliedAtStart();
    void updatePairIsInstalledAtStart();

private:
    bool restartDaemon();

    FakeMediaCentre m_centre;
    BoardPort m_board;
    DaemonProcess m_daemon;
    QString m_password = serial;
};

void TestCtlSystem::initTestCase()
{
    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), {});
    DeviceFiles::writeFile(settingsPath, "[General]\nNAME=Demo box\nSN=12345678\nNET_MODE=static\n"
                                         "NET_IP=192.168.77.2\nNET_MASK=255.255.255.0\nNET_ROUTE=192.168.77.1\n");
    DeviceFiles::writeStickFile(QStringLiteral("clip.mp4"), "v");
    DeviceFiles::writeStickFile(QStringLiteral("picture.png"), "p");
    DeviceFiles::writeStickFile(QStringLiteral("tone.mp3"), "a");
    DeviceFiles::writeStickConfig("[General]\ndevname=Demo stick\nchannel=3\nudpcontrol=true\nudpport=5555\n"
                                  "[playlist]\nsize=3\n1\\track=clip.mp4\n2\\track=picture.png\n3\\track=tone.mp3\n");
    QVERIFY(m_centre.listen());
    m_centre.setSimulatePlayback(true);
    QVERIFY2(m_board.open(), qPrintable(m_board.errorString()));
    QVERIFY(m_daemon.start());
    // UDP control starts 3 s after the board link, which opens 2 s after the media centre link.
    QTRY_VERIFY_WITH_TIMEOUT(CtlProcess::run({QStringLiteral("control"), host(), QStringLiteral("--state"), QStringLiteral("stop"),
                                  QStringLiteral("--timeout"), QStringLiteral("500")}).exitCode == 0, 30000);
}

void TestCtlSystem::cleanupTestCase()
{
    m_daemon.stop();
}

bool TestCtlSystem::restartDaemon()
{
    m_daemon.stop();
    if (!m_daemon.start())
        return false;
    return QTest::qWaitFor([] { return CtlProcess::run({QStringLiteral("discover"), QStringLiteral("--timeout"), QStringLiteral("300")}).exitCode == 0; },
                           20000);
}

void TestCtlSystem::discoverListsTheBox()
{
    const CtlProcess::Result result = ctl({QStringLiteral("discover"), QStringLiteral("--json")});
    QCOMPARE(result.exitCode, 0);
    const QJsonArray boxes = result.json().array();
    QCOMPARE(boxes.size(), 1);
    const QJsonObject box = boxes.first().toObject();
    QCOMPARE(box.value("address").toString(), host());
    QCOMPARE(box.value("name").toString(), QStringLiteral("Demo box"));
    QCOMPARE(box.value("serial").toString(), serial);
    QCOMPARE(box.value("channel").toInt(), 3);
    QVERIFY(!box.contains("search"));
}

void TestCtlSystem::searchAddsSettingsAndStick()
{
    const CtlProcess::Result result = ctl({QStringLiteral("discover"), QStringLiteral("--search"), QStringLiteral("--json"),
                                           QStringLiteral("--broadcast"), QStringLiteral("192.168.77.255")});
    QCOMPARE(result.exitCode, 0);
    const QJsonObject search = result.json().array().first().toObject().value("search").toObject();
    QCOMPARE(search.value("name").toString(), QStringLiteral("Demo stick"));
    QCOMPARE(search.value("serial").toInt(), 12345678);
    QCOMPARE(search.value("ip").toString(), host());
    QCOMPARE(search.value("prefix").toInt(), 24);
    QCOMPARE(search.value("gateway").toString(), QStringLiteral("192.168.77.1"));
    QCOMPARE(search.value("dhcp").toBool(), false);
    QVERIFY(search.value("storageSize").toDouble() > 0);
    QCOMPARE(search.value("configPresent").toBool(), true);
    QCOMPARE(search.value("channel").toInt(), 3);
}

void TestCtlSystem::networkShowsSettingsWithFactoryPassword()
{
    // No --password: the serial number learnt by discovery is the factory password.
    const CtlProcess::Result result = ctl({QStringLiteral("network"), host(), QStringLiteral("--json")});
    QCOMPARE(result.exitCode, 0);
    const QJsonObject network = result.json().object();
    QCOMPARE(network.value("ip").toString(), host());
    QCOMPARE(network.value("gateway").toString(), QStringLiteral("192.168.77.1"));
    QCOMPARE(network.value("prefix").toInt(), 24);
    QCOMPARE(network.value("dhcp").toBool(), false);
    QCOMPARE(network.value("serial").toString(), serial);
    QCOMPARE(network.value("udpPort").toInt(), 5555);
}

void TestCtlSystem::wrongPasswordIsRefused()
{
    const CtlProcess::Result result = CtlProcess::run({QStringLiteral("network"), host(), QStringLiteral("--password"), QStringLiteral("guess")});
    QCOMPARE(result.exitCode, 5);
    QVERIFY(result.out.isEmpty());
}

void TestCtlSystem::deviceStoresChannelAndName()
{
    m_board.clear();
    const CtlProcess::Result result = ctl({QStringLiteral("device"), host(), QStringLiteral("--channel"), QStringLiteral("9"),
                                           QStringLiteral("--name"), QStringLiteral("Foyer left"), QStringLiteral("--json")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.json().object().value("response").toInt(), 7);
    const CtlProcess::Result found = ctl({QStringLiteral("discover"), QStringLiteral("--json")});
    const QJsonObject box = found.json().array().first().toObject();
    QCOMPARE(box.value("name").toString(), QStringLiteral("Foyer left"));
    QCOMPARE(box.value("channel").toInt(), 9);
    QCOMPARE(setting(QStringLiteral("NAME")).toString(), QStringLiteral("Foyer left"));

    // Only the name: the channel stays as discovery reports it.
    QCOMPARE(ctl({QStringLiteral("device"), host(), QStringLiteral("--name"), QStringLiteral("Foyer")}).exitCode, 0);
    const QJsonObject after = ctl({QStringLiteral("discover"), QStringLiteral("--json")}).json().array().first().toObject();
    QCOMPARE(after.value("name").toString(), QStringLiteral("Foyer"));
    QCOMPARE(after.value("channel").toInt(), 9);
}

void TestCtlSystem::filesListsThePlaylist()
{
    const CtlProcess::Result result = ctl({QStringLiteral("files"), host(), QStringLiteral("--json")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.json().object().value("files").toArray().toVariantList(),
             QVariantList({"/media/ZR605/clip.mp4", "/media/ZR605/picture.png", "/media/ZR605/tone.mp3",
                           "/media/ZR605/config.ini"}));
    QCOMPARE(result.json().object().value("serial").toString(), serial);
}

void TestCtlSystem::controlLevelsReachThePlayer()
{
    m_centre.clearRequests();
    const CtlProcess::Result result = ctl({QStringLiteral("control"), host() + QStringLiteral(":5555"), QStringLiteral("--state"),
                                           QStringLiteral("play"), QStringLiteral("--track"), QStringLiteral("2"),
                                           QStringLiteral("--volume"), QStringLiteral("40"), QStringLiteral("--json")});
    QCOMPARE(result.exitCode, 0);
    const QJsonObject levels = result.json().object().value("levels").toObject();
    QCOMPARE(levels.value("state").toObject().value("value").toInt(), 2);
    QCOMPARE(levels.value("track").toObject().value("value").toInt(), 2);
    QCOMPARE(levels.value("volume").toObject().value("value").toInt(), 40);
    // Play starts the current entry; the new track follows 500 ms later.
    auto lastOpened = [this] {
        const auto opens = m_centre.requests(QStringLiteral("Player.Open"));
        return opens.isEmpty() ? QString() : opens.last().params().value("item").toObject().value("file").toString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(lastOpened(), QStringLiteral("/media/ZR605/tone.mp3"), 10000);
}

void TestCtlSystem::passwordChangeTakesEffect()
{
    const CtlProcess::Result result = ctl({QStringLiteral("password"), host(), QStringLiteral("--new"), QStringLiteral("n3w pass")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/.zr605_password.txt")), md5Hex("n3w pass"));
    QCOMPARE(CtlProcess::run({QStringLiteral("network"), host()}).exitCode, 5);
    m_password = QStringLiteral("n3w pass");
    QCOMPARE(ctl({QStringLiteral("network"), host(), QStringLiteral("--password"), m_password}).exitCode, 0);
}

void TestCtlSystem::setSerialIsStored()
{
    // Ten digits: more than the discovery record holds.
    const CtlProcess::Result result = ctl({QStringLiteral("set-serial"), host(), QStringLiteral("4000000000"), QStringLiteral("--json")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.json().object().value("acknowledged").toBool(), true);
    QCOMPARE(setting(QStringLiteral("SN")).toString(), QStringLiteral("4000000000"));
    const QJsonObject box = ctl({QStringLiteral("discover"), QStringLiteral("--json")}).json().array().first().toObject();
    QCOMPARE(box.value("serial").toString(), QStringLiteral("40000000"));
    const QJsonObject network = ctl({QStringLiteral("network"), host(), QStringLiteral("--password"), m_password,
                                     QStringLiteral("--json")}).json().object();
    QCOMPARE(network.value("serial").toString(), QStringLiteral("4000000000"));
    QCOMPARE(network.value("udpPort").toInt(), 5555);
}

void TestCtlSystem::staticNetworkIsWrittenAndBoxReboots()
{
    Box::clearCommandLog();
    const CtlProcess::Result result = ctl({QStringLiteral("network"), host(), QStringLiteral("--password"), m_password,
                                           QStringLiteral("--address"), host(), QStringLiteral("--prefix"), QStringLiteral("16"),
                                           QStringLiteral("--gateway"), QStringLiteral("192.168.77.254"), QStringLiteral("--json")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.json().object().value("response").toInt(), 3);
    QCOMPARE(setting(QStringLiteral("NET_ROUTE")).toString(), QStringLiteral("192.168.77.254"));
    QVERIFY(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")).contains("192.168.77.254"));
    QTRY_VERIFY_WITH_TIMEOUT(logHas(QStringLiteral("reboot")) || logHas(QStringLiteral("reboot -f")), 5000);
}

void TestCtlSystem::dhcpKeepsStaticValues()
{
    Box::clearCommandLog();
    const CtlProcess::Result result = ctl({QStringLiteral("network"), host(), QStringLiteral("--password"), m_password,
                                           QStringLiteral("--dhcp")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(setting(QStringLiteral("NET_MODE")).toString(), QStringLiteral("dhcp"));
    QCOMPARE(setting(QStringLiteral("NET_ROUTE")).toString(), QStringLiteral("192.168.77.254"));
    QVERIFY(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")).contains("dhcp"));
    const QJsonObject network = ctl({QStringLiteral("network"), host(), QStringLiteral("--password"), m_password,
                                     QStringLiteral("--json")}).json().object();
    QCOMPARE(network.value("dhcp").toBool(), true);
    QTRY_VERIFY_WITH_TIMEOUT(!Box::commandLog().filter(QStringLiteral("reboot")).isEmpty(), 5000);
}

void TestCtlSystem::rebootWithAndWithoutAck()
{
    Box::clearCommandLog();
    const CtlProcess::Result acked = ctl({QStringLiteral("reboot"), host(), QStringLiteral("--password"), m_password, QStringLiteral("--json")});
    QCOMPARE(acked.exitCode, 0);
    QCOMPARE(acked.json().object().value("response").toInt(), 5);
    QTRY_VERIFY2_WITH_TIMEOUT(Box::commandLog().filter(QStringLiteral("reboot")).size() == 1, qPrintable(Box::commandLog().join('|')), 5000);
    QCOMPARE(ctl({QStringLiteral("reboot"), host(), QStringLiteral("--password"), m_password, QStringLiteral("--no-ack")}).exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(Box::commandLog().filter(QStringLiteral("reboot")).size() == 2, 5000);
}

void TestCtlSystem::filesRemoveClearsTheStick()
{
    const CtlProcess::Result result = ctl({QStringLiteral("files"), host(), QStringLiteral("--password"), m_password, QStringLiteral("--remove")});
    QCOMPARE(result.exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(Box::stickPath() + QStringLiteral("/config.ini")), 5000);
    QVERIFY(!QFile::exists(Box::stickPath() + QStringLiteral("/clip.mp4")));
    QVERIFY(!QFile::exists(Box::stickPath() + QStringLiteral("/tone.mp3")));
}

void TestCtlSystem::resetFileIsAppliedAtStart()
{
    const QString file = Box::stickPath() + QStringLiteral("/.__zr605__reset");
    const CtlProcess::Result result = ctl({QStringLiteral("reset-file"), QStringLiteral("--network"), QStringLiteral("--password"),
                                           QStringLiteral("-o"), Box::stickPath()});
    QCOMPARE(result.exitCode, 0);
    const QByteArray encrypted = DeviceFiles::readFile(file);
    QCOMPARE(encrypted.size() % 16, 0);
    const QByteArray plain = FileCrypt().decrypt(encrypted);
    QVERIFY2(!plain.contains('\x80'), plain.toHex().constData());

    DeviceFiles::writeSettings({{QStringLiteral("NET_MODE"), QStringLiteral("static")}});
    QVERIFY(restartDaemon());
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(file), 5000);
    QCOMPARE(setting(QStringLiteral("NET_MODE")).toString(), QStringLiteral("dhcp"));
    QCOMPARE(setting(QStringLiteral("NAME")).toString(), QStringLiteral("ZR605"));
    // The factory password again: the digest of the serial number set above.
    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/.zr605_password.txt")), md5Hex("4000000000"));
    QCOMPARE(ctl({QStringLiteral("network"), host()}).exitCode, 0);
}

void TestCtlSystem::updatePairIsInstalledAtStart()
{
    const QByteArray program = "#!/bin/sh\necho new build\n";
    DeviceFiles::writeFile(QStringLiteral("/tmp/newbuild"), program);
    const CtlProcess::Result result = ctl({QStringLiteral("update-pair"), QStringLiteral("/tmp/newbuild"), QStringLiteral("-o"),
                                           Box::stickPath(), QStringLiteral("--json")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.json().object().value("md5").toString().toLatin1(), md5Hex(program));
    QCOMPARE(DeviceFiles::readFile(Box::stickPath() + QStringLiteral("/quorvant.md5")).left(32), md5Hex(program));

    Box::clearCommandLog();
    QVERIFY(restartDaemon());
    QTRY_COMPARE_WITH_TIMEOUT(DeviceFiles::readFile(QStringLiteral("/cfg/quorvant")), program, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(Box::stickPath() + QStringLiteral("/quorvant")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!Box::commandLog().filter(QStringLiteral("reboot")).isEmpty(), 10000);
}

QUORVANT_TEST_MAIN(TestCtlSystem)
#include "tst_ctlsystem.moc"
