// quorvant-ctl on the tool host against the real daemon in the box: every command, its decoded
// answer, and what the box did about it. The functions run in order and build on each other.

#include "maintenance/filecrypt.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"
#include "tests/support/ctlprocess.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"
#include "tests/support/fakemediacentre.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QtTest/QtTest>

namespace {

const QString host = "192.168.77.2";
const QString password = "n3w pass"; // the login once deviceNamePasswordAndSerialAreStored() has set it

QByteArray md5Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QString setting(const QString &key)
{
    return QSettings("/cfg/settings.cfg", QSettings::IniFormat).value(key).toString();
}

// Runs quorvant-ctl with --json: its answer (for discover: the one box found) as "key=value ..." for
// the keys asked ("search/name" looks inside "search"), or the exit code and message when it failed.
QString ctl(const QStringList &arguments, const QStringList &keys = {})
{
    const CtlProcess::Result result = CtlProcess::run(arguments + QStringList{"--json"});
    if (result.exitCode != 0)
        return QString("exit %1: %2").arg(result.exitCode).arg(QString(result.err));
    QStringList shown;
    for (const QString &key : keys) {
        QJsonValue value = result.json().isArray() ? result.json().array().first() : result.json().object();
        for (const QString &name : key.split('/'))
            value = value[name];
        shown << key + "=" + (value.isArray() ? value.toVariant().toStringList().join(',') : value.toVariant().toString());
    }
    return shown.join(' ');
}

bool rebootsSeen(int count)
{
    return QTest::qWaitFor([count] { return Box::commandLog().filter("reboot").size() == count; }, 10000);
}

} // namespace

class TestCtlSystem : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readCommandsShowTheBox();
    void controlLevelsReachThePlayer();
    void deviceNamePasswordAndSerialAreStored();
    void networkWritesAndRebootFollow();
    void filesRemoveClearsTheStick();
    void resetFileIsAppliedAtStart();
    void updatePairIsInstalledAtStart();

private:
    bool restartDaemon();

    FakeMediaCentre m_centre;
    BoardPort m_board;
    DaemonProcess m_daemon;
};

void TestCtlSystem::initTestCase()
{
    DeviceFiles::writeFile("/forcefsck", {});
    DeviceFiles::writeFile("/cfg/settings.cfg", "[General]\nNAME=Demo box\nSN=12345678\nNET_MODE=static\n"
                                                "NET_IP=192.168.77.2\nNET_MASK=255.255.255.0\nNET_ROUTE=192.168.77.1\n");
    for (const char *file : {"clip.mp4", "picture.png", "tone.mp3"})
        DeviceFiles::writeStickFile(file, "media");
    DeviceFiles::writeStickConfig("[General]\ndevname=Demo stick\nchannel=3\nudpcontrol=true\nudpport=5555\n"
                                  "[playlist]\nsize=3\n1\\track=clip.mp4\n2\\track=picture.png\n3\\track=tone.mp3\n");
    QVERIFY(m_centre.listen());
    m_centre.setSimulatePlayback(true);
    QVERIFY2(m_board.open(), qPrintable(m_board.errorString()));
    QVERIFY(restartDaemon());
    // UDP control starts 3 s after the board link, which opens 2 s after the media centre link.
    QVERIFY(QTest::qWaitFor([] { return ctl({"control", host, "--state", "stop", "--timeout", "500"}).isEmpty(); }, 30000));
}

bool TestCtlSystem::restartDaemon()
{
    m_daemon.stop();
    return m_daemon.start() && QTest::qWaitFor([] { return ctl({"discover", "--timeout", "300"}).isEmpty(); }, 20000);
}

void TestCtlSystem::readCommandsShowTheBox()
{
    QCOMPARE(ctl({"discover"}, {"address", "name", "serial", "channel", "search"}), "address=" + host + " name=Demo box serial=12345678 channel=3 search=");
    const QStringList search{"search/name", "search/serial", "search/ip", "search/prefix", "search/gateway", "search/dhcp", "search/configPresent", "search/channel"};
    QCOMPARE(ctl({"discover", "--search", "--broadcast", "192.168.77.255"}, search).remove("search/"),
             "name=Demo stick serial=12345678 ip=" + host + " prefix=24 gateway=192.168.77.1 dhcp=false configPresent=true channel=3");
    QVERIFY(ctl({"discover", "--search"}, {"search/storageSize"}).section('=', 1).toDouble() > 0);
    // No --password: the serial number learnt by discovery is the factory password.
    QCOMPARE(ctl({"network", host}, {"ip", "gateway", "prefix", "dhcp", "serial", "udpPort"}),
             "ip=" + host + " gateway=192.168.77.1 prefix=24 dhcp=false serial=12345678 udpPort=5555");
    QVERIFY(ctl({"network", host, "--password", "guess"}).startsWith("exit 5"));
    QCOMPARE(ctl({"files", host}, {"files", "serial"}),
             "files=/media/ZR605/clip.mp4,/media/ZR605/picture.png,/media/ZR605/tone.mp3,/media/ZR605/config.ini serial=12345678");
}

void TestCtlSystem::controlLevelsReachThePlayer()
{
    m_centre.clearRequests();
    QCOMPARE(ctl({"control", host + ":5555", "--state", "play", "--track", "2", "--volume", "40"},
                 {"levels/state/value", "levels/track/value", "levels/volume/value"}).remove("levels/").remove("/value"), "state=2 track=2 volume=40");
    // Play starts the current entry; the new track follows 500 ms later.
    const auto lastOpened = [this] {
        const auto opens = m_centre.requests("Player.Open");
        return opens.isEmpty() ? QString() : opens.last().params()["item"].toObject()["file"].toString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(lastOpened(), QString("/media/ZR605/tone.mp3"), 10000);
}

void TestCtlSystem::deviceNamePasswordAndSerialAreStored()
{
    QCOMPARE(ctl({"device", host, "--channel", "9", "--name", "Foyer left"}, {"response"}), "response=7");
    QCOMPARE(ctl({"discover"}, {"name", "channel"}), "name=Foyer left channel=9");
    QCOMPARE(setting("NAME"), "Foyer left");
    // Only the name: the channel stays.
    QCOMPARE(ctl({"device", host, "--name", "Foyer"}, {"response"}), "response=7");
    QCOMPARE(ctl({"discover"}, {"name", "channel"}), "name=Foyer channel=9");
    // A new password takes effect at once; the serial (ten digits: more than discovery holds) is stored.
    QCOMPARE(ctl({"password", host, "--new", password}), QString());
    QCOMPARE(DeviceFiles::readFile("/cfg/.zr605_password.txt"), md5Hex(password.toUtf8()));
    QVERIFY(ctl({"network", host}).startsWith("exit 5"));
    QCOMPARE(ctl({"network", host, "--password", password}), QString());
    QCOMPARE(ctl({"set-serial", host, "4000000000"}, {"acknowledged"}), "acknowledged=true");
    QCOMPARE(setting("SN"), "4000000000");
    QCOMPARE(ctl({"discover"}, {"serial"}), "serial=40000000");
    QCOMPARE(ctl({"network", host, "--password", password}, {"serial", "udpPort"}), "serial=4000000000 udpPort=5555");
}

void TestCtlSystem::networkWritesAndRebootFollow()
{
    Box::clearCommandLog();
    QCOMPARE(ctl({"network", host, "--password", password, "--address", host, "--prefix", "16", "--gateway", "192.168.77.254"}, {"response"}), "response=3");
    QCOMPARE(setting("NET_ROUTE"), "192.168.77.254");
    QVERIFY(DeviceFiles::readFile("/cfg/eth0").contains("192.168.77.254"));
    QVERIFY(rebootsSeen(1));
    // DHCP keeps the static values for later.
    QCOMPARE(ctl({"network", host, "--password", password, "--dhcp"}), QString());
    QCOMPARE(setting("NET_MODE") + " " + setting("NET_ROUTE"), "dhcp 192.168.77.254");
    QVERIFY(DeviceFiles::readFile("/cfg/eth0").contains("dhcp"));
    QCOMPARE(ctl({"network", host, "--password", password}, {"dhcp"}), "dhcp=true");
    QVERIFY(rebootsSeen(2));
    QCOMPARE(ctl({"reboot", host, "--password", password}, {"response"}), "response=5");
    QVERIFY(rebootsSeen(3));
    QCOMPARE(ctl({"reboot", host, "--password", password, "--no-ack"}), QString());
    QVERIFY(rebootsSeen(4));
}

void TestCtlSystem::filesRemoveClearsTheStick()
{
    QCOMPARE(ctl({"files", host, "--password", password, "--remove"}), QString());
    QTRY_VERIFY_WITH_TIMEOUT(QDir(Box::stickPath()).isEmpty(), 5000);
}

void TestCtlSystem::resetFileIsAppliedAtStart()
{
    const QString file = Box::stickPath() + "/.__zr605__reset";
    QCOMPARE(ctl({"reset-file", "--network", "--password", "-o", Box::stickPath()}), QString());
    const QByteArray encrypted = DeviceFiles::readFile(file);
    QCOMPARE(encrypted.size() % 16, 0);
    // Zero-filled, not padded.
    QVERIFY2(!FileCrypt().decrypt(encrypted).contains('\x80'), encrypted.toHex().constData());
    DeviceFiles::writeSettings({{"NET_MODE", "static"}});
    QVERIFY(restartDaemon());
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(file), 5000);
    QCOMPARE(setting("NET_MODE") + " " + setting("NAME"), "dhcp ZR605");
    // The factory password again: the digest of the serial number set above.
    QCOMPARE(DeviceFiles::readFile("/cfg/.zr605_password.txt"), md5Hex("4000000000"));
    QCOMPARE(ctl({"network", host}), QString());
}

void TestCtlSystem::updatePairIsInstalledAtStart()
{
    const QByteArray program = "#!/bin/sh\necho new build\n";
    DeviceFiles::writeFile("/tmp/newbuild", program);
    QCOMPARE(ctl({"update-pair", "/tmp/newbuild", "-o", Box::stickPath()}, {"md5"}), "md5=" + md5Hex(program));
    Box::clearCommandLog();
    m_daemon.stop();
    QVERIFY(m_daemon.start());
    QTRY_COMPARE_WITH_TIMEOUT(DeviceFiles::readFile("/cfg/quorvant"), program, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(Box::stickPath() + "/quorvant"), 5000);
    QVERIFY(rebootsSeen(1));
}

QUORVANT_TEST_MAIN(TestCtlSystem)
#include "tst_ctlsystem.moc"
