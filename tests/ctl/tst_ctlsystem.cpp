// quorvant-ctl on the tool host against the real daemon in the box: every command, its decoded
// answer, and what the box did about it. The functions run in order and build on each other.

#include "wire/tcpprotocol.h"
#include "link/tcpserver.h"
#include "system/networkconfigurator.h"
#include "tests/support/ctlprocess.h"
#include "tests/support/testmain.h"

#include <QTcpSocket>

namespace {

const QString host = "192.168.77.2";
const QString password = "n3w pass"; // the login once deviceNamePasswordAndSerialAreStored() has set it

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

} // namespace

class TestCtlSystem : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
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

    void readCommandsShowTheBox()
    {
        QCOMPARE(ctl({"discover"}, {"address", "name", "serial", "channel", "search"}), "address=" + host + " name=Demo box serial=12345678 channel=3 search=");
        const QStringList search{"search/name", "search/serial", "search/ip", "search/prefix", "search/gateway", "search/dhcp",
                                 "search/configPresent", "search/channel", "search/storageSize"};
        QCOMPARE(ctl({"discover", "--search", "--broadcast", "192.168.77.255"}, search).remove("search/"),
                 "name=Demo stick serial=12345678 ip=" + host + " prefix=24 gateway=192.168.77.1 dhcp=false configPresent=true channel=3"
                 " storageSize=" + QString::number(QStorageInfo(Box::stickPath()).bytesTotal()));
        // No --password: the serial number learnt by discovery is the factory password.
        QCOMPARE(ctl({"network", host}, {"ip", "gateway", "prefix", "dhcp", "serial", "udpPort"}),
                 "ip=" + host + " gateway=192.168.77.1 prefix=24 dhcp=false serial=12345678 udpPort=5555");
        QCOMPARE(ctl({"files", host}, {"files", "serial"}),
                 "files=/media/ZR605/clip.mp4,/media/ZR605/picture.png,/media/ZR605/tone.mp3,/media/ZR605/config.ini serial=12345678");
    }

    void controlLevelsReachThePlayer()
    {
        m_centre.clearRequests();
        QCOMPARE(ctl({"control", host + ":5555", "--state", "play", "--track", "2", "--volume", "40"},
                     {"levels/state/value", "levels/track/value", "levels/volume/value"}).remove("levels/").remove("/value"), "state=2 track=2 volume=40");
        // Play starts the current entry; the new track follows 500 ms later.
        QTRY_COMPARE_WITH_TIMEOUT(m_centre.lines().filter("open:").value(1), QString("open:tone.mp3"), 10000);
    }

    void deviceNamePasswordAndSerialAreStored()
    {
        QCOMPARE(ctl({"device", host, "--channel", "9", "--name", "Foyer left"}, {"response"}), "response=7");
        QCOMPARE(ctl({"discover"}, {"name", "channel"}), "name=Foyer left channel=9");
        // Only the name: the tool sends the channel the box announces.
        QCOMPARE(ctl({"device", host, "--name", "Foyer"}, {"response"}), "response=7");
        QCOMPARE(ctl({"discover"}, {"name", "channel"}), "name=Foyer channel=9");
        // Fifteen letters and "ł" show as the fifteen letters, which must not be sent back.
        QCOMPARE(ctl({"device", host, "--name", "Foyer lefthands\u0142"}, {"response"}), "response=7");
        QVERIFY(ctl({"device", host, "--channel", "8"}).startsWith("exit 2"));
        QTest::qWait(200);
        QCOMPARE(QSettings("/cfg/settings.cfg", QSettings::IniFormat).value("NAME").toString(), QString("Foyer lefthands\u0142"));
        QCOMPARE(ctl({"device", host, "--name", "Foyer"}, {"response"}), "response=7");
        // A new password takes effect at once; the serial (ten digits: more than discovery holds) is stored.
        QCOMPARE(ctl({"password", host, "--new", password}), QString());
        QVERIFY(ctl({"network", host}).startsWith("exit 5"));
        QCOMPARE(ctl({"set-serial", host, "4000000000"}, {"acknowledged"}), "acknowledged=true");
        QCOMPARE(ctl({"discover"}, {"serial"}), "serial=40000000");
        QCOMPARE(ctl({"network", host, "--password", password}, {"serial", "udpPort"}), "serial=4000000000 udpPort=5555");
    }

    void networkWritesAndRebootFollow()
    {
        Box::clearCommandLog();
        const QStringList login{host, "--password", password};
        QCOMPARE(ctl(QStringList{"network"} + login + QStringList{"--address", host, "--prefix", "16", "--gateway", "192.168.77.254"}, {"response"}), "response=3");
        QCOMPARE(ctl(QStringList{"network"} + login, {"prefix", "gateway", "dhcp"}), "prefix=16 gateway=192.168.77.254 dhcp=false");
        // DHCP keeps the static values for later.
        QCOMPARE(ctl(QStringList{"network"} + login + QStringList{"--dhcp"}), QString());
        QCOMPARE(ctl(QStringList{"network"} + login, {"prefix", "gateway", "dhcp"}), "prefix=16 gateway=192.168.77.254 dhcp=true");
        QCOMPARE(ctl(QStringList{"reboot"} + login, {"response"}), "response=5");
        QCOMPARE(ctl(QStringList{"reboot"} + login + QStringList{"--no-ack"}), QString());
        // Each network write reboots, as does each reboot command.
        QTRY_COMPARE_WITH_TIMEOUT(Box::commandLog().filter("reboot").size(), 4, 10000);
    }

    // A prefix the box holds but refuses to take back is not sent with --dhcp, which would never
    // be answered.
    void dhcpDoesNotSendARefusedPrefix()
    {
        const QString badMask = "255.255.255.255.255";
        DeviceFiles::writeSettings({{"NET_MODE", "static"}, {"NET_IP", host}, {"NET_MASK", badMask}, {"NET_ROUTE", "192.168.77.1"}});
        DeviceFiles::writeFile("/cfg/eth0", NetworkConfigurator::interfaceFileContent("static", true, host, badMask, "192.168.77.1"));
        QVERIFY(restartDaemon());
        const QStringList login{host, "--password", password};
        QCOMPARE(ctl(QStringList{"network"} + login, {"prefix"}), "prefix=40");
        QCOMPARE(ctl(QStringList{"network"} + login + QStringList{"--dhcp"}, {"response"}), "response=3");
        QCOMPARE(ctl(QStringList{"network"} + login, {"prefix", "dhcp"}), "prefix=0 dhcp=true");
    }

    // A logged-in client that asks for a 2 MB file list again and again and never reads is dropped
    // before the replies fill the box's memory; the next client is served as usual.
    void clientThatNeverReadsIsDropped()
    {
        const QByteArray config = DeviceFiles::readFile(Box::stickPath() + "/config.ini");
        QByteArray ini = "[playlist]\nsize=10000\n";
        for (int i = 1; i <= 10000; ++i)
            ini += QByteArray::number(i) + "\\track=" + QByteArray(180, 'x') + QByteArray::number(i) + ".mp4\n";
        DeviceFiles::writeStickConfig(ini);
        // Listing 10000 entries takes the box a while (seconds under the sanitizers): no time-out here.
        const QStringList files{"files", host, "--password", password, "--timeout", "20000"};
        const QString listed = ctl(files, {"serial"});
        QVERIFY2(listed.startsWith("serial="), qPrintable(listed));
        const qint64 idle = m_daemon.rssKiB();

        std::unique_ptr<QTcpSocket> client(Box::peerTcpConnect(Box::boxAddress(), TcpProtocol::port));
        QVERIFY(client);
        client->setReadBufferSize(64); // a client that takes the login reply and nothing more
        client->write(TcpProtocol::loginRequest(md5Hex(password.toUtf8())));
        TcpProtocol::Reply login;
        QTRY_VERIFY(TcpProtocol::parseReply(client->peek(64), &login) > 0);
        QCOMPARE(int(login.code), int(TcpProtocol::RespLoginAccepted));
        client->readAll();
        int sent = 0;
        for (; sent < 40 && client->state() == QAbstractSocket::ConnectedState; ++sent) {
            client->write(TcpProtocol::plainRequest(TcpProtocol::CmdListFiles));
            QTest::qWait(100); // one request per read on the box
        }
        const qint64 grown = m_daemon.rssKiB() - idle;
        qInfo("requests sent: %d; daemon RSS %lld KiB, %lld KiB above idle", sent, idle + grown, grown);
        QCOMPARE(client->state(), QAbstractSocket::UnconnectedState);
#ifndef __SANITIZE_ADDRESS__
        // Under AddressSanitizer freed blocks wait in its quarantine: the resident size tells nothing.
        QVERIFY(grown < 6 * TcpServer::maxPendingBytes / 1024);
#endif
        DeviceFiles::writeStickConfig(config);
        QCOMPARE(ctl(files, {"files"}).count(','), 3);
    }

    void filesRemoveClearsTheStick()
    {
        QCOMPARE(ctl({"files", host, "--password", password, "--remove"}), QString());
        QTRY_VERIFY_WITH_TIMEOUT(QDir(Box::stickPath()).isEmpty(), 5000);
    }

    void resetFileIsAppliedAtStart()
    {
        QCOMPARE(ctl({"reset-file", "--network", "--password", "-o", Box::stickPath()}), QString());
        DeviceFiles::writeSettings({{"NET_MODE", "static"}});
        QVERIFY(restartDaemon());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(Box::stickPath() + "/.__zr605__reset"), 5000);
        // Back to DHCP, and the login without --password (the serial number) is accepted again.
        QCOMPARE(ctl({"network", host}, {"dhcp"}), "dhcp=true");
    }

    void updatePairIsInstalledAtStart()
    {
        const QByteArray program = DeviceFiles::readFile(Box::daemonPath());
        DeviceFiles::writeFile("/tmp/newbuild", program);
        QCOMPARE(ctl({"update-pair", "/tmp/newbuild", "-o", Box::stickPath()}, {"md5"}), "md5=" + md5Hex(program));
        DeviceFiles::writeStickConfig("showosd=true\n");
        m_centre.clearRequests();
        m_daemon.stop();
        QVERIFY(m_daemon.start());
        QTRY_COMPARE_WITH_TIMEOUT(DeviceFiles::readFile("/cfg/quorvant"), program, 20000);
        // The updater's notices cross from the player's worker thread to the television.
        QTRY_COMPARE_WITH_TIMEOUT(m_centre.lines().filter(QRegularExpression("^note:(Update|Data verified)")),
                                  QStringList({"note:Update|Update files found. Running update...",
                                               "note:Data verified|Updating please wait", "note:Update success|Rebooting"}),
                                  10000);
    }

private:
    bool restartDaemon()
    {
        m_daemon.stop();
        return m_daemon.start() && QTest::qWaitFor([] { return ctl({"discover", "--timeout", "300"}).isEmpty(); }, 20000);
    }

    FakeMediaCentre m_centre;
    BoardPort m_board;
    DaemonProcess m_daemon;
};

QUORVANT_TEST_MAIN(TestCtlSystem)
#include "tst_ctlsystem.moc"
