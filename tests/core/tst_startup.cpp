// Start-up of the real daemon: the forced file-system check, the stale log, the silence after the
// message handler is installed, a stick configuration far too large to read, a read-only stick that
// must not make the box reboot at every start, and the network configuration after a kill in the
// middle of a change.

#include "wire/tcpprotocol.h"
#include "wire/filecrypt.h"
#include "system/network.h"
#include "system/networkconfigurator.h"
#include "tests/support/ctlprocess.h"
#include "tests/support/testmain.h"

#include <QTcpSocket>
#include <sys/mount.h>

namespace {

const QString settingsPath = QStringLiteral("/cfg/settings.cfg");
const QString staleLog = QStringLiteral("/tmp/.__zr605_log__.log");

bool connectOnce(QTcpSocket &client)
{
    client.abort();
    client.connectToHost(QStringLiteral("192.168.77.2"), TcpProtocol::port);
    return client.waitForConnected(100);
}

// True once the daemon answered a login, which it does only after all its start-up steps.
bool logIn(QTcpSocket &client)
{
    return QTest::qWaitFor([&] {
        if (!connectOnce(client))
            return false;
        client.write(TcpProtocol::loginRequest(md5Hex("secret")));
        return client.waitForReadyRead(1000) && !client.readAll().isEmpty();
    }, 30000);
}

QByteArray interfaceFile(const TcpProtocol::msgNetworkConfiguration &c)
{
    const QString mode = c.dhcp ? "dhcp" : "static";
    return NetworkConfigurator::interfaceFileContent(mode, !c.dhcp, c.ip, Network::cidrToMask(c.mask), c.gw);
}

// The interface file as the stored settings would write it.
QByteArray interfaceFileFromSettings()
{
    const QSettings s(settingsPath, QSettings::IniFormat);
    const bool dhcp = s.value("NET_MODE").toString() == "dhcp";
    return NetworkConfigurator::interfaceFileContent(dhcp ? "dhcp" : "static", !dhcp, s.value("NET_IP").toString(),
                                                     s.value("NET_MASK").toString(), s.value("NET_ROUTE").toString());
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Box::clearCommandLog();
        DeviceFiles::writeFile(settingsPath, "[General]\nNET_MODE=dhcp\n");
        // A checked file system, and the password the tests log in with.
        DeviceFiles::writeFile("/forcefsck", {});
        DeviceFiles::writeFile("/cfg/.zr605_password.txt", md5Hex("secret"));
    }

    void fileSystemCheckIsForcedOnlyWithoutMarker_data()
    {
        QTest::addColumn<bool>("markerPresent");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("marker absent") << false << QStringList{"mount -o remount,rw /dev/mmcblk0p2", "reboot -f"};
        QTest::newRow("marker present") << true << QStringList{};
    }

    void fileSystemCheckIsForcedOnlyWithoutMarker()
    {
        QFETCH(bool, markerPresent);
        DeviceFiles::removeFile("/forcefsck");
        if (markerPresent)
            DeviceFiles::writeFile("/forcefsck", {});
        DeviceFiles::writeFile(staleLog, "old run\n");

        DaemonProcess daemon;
        QVERIFY(daemon.start());
        // With DHCP on, the last start-up step copies the live address into the settings.
        QTRY_VERIFY_WITH_TIMEOUT(DeviceFiles::readFile(settingsPath).contains("NET_IP=192.168.77.2"), 20000);
        QVERIFY(daemon.isRunning());
        QTEST(Box::commandLog(), "commands");
        QVERIFY(QFile::exists("/forcefsck"));
        QVERIFY(!QFile::exists(staleLog));
        daemon.stop();
        // Only the lines before the handler is installed reach the default output.
        QCOMPARE(QString::fromUtf8(daemon.output()).split('\n', Qt::SkipEmptyParts),
                 (QStringList{"Create log file", "Start application", "Install message handler"}));
    }

    // 150 MB of short keys: every reader takes the file as damaged instead of spending seconds and
    // gigabytes on it. The search reply shows a present stick configuration with nothing set, and the
    // file list holds config.ini alone.
    void oversizedStickConfigIsNotRead()
    {
        QCOMPARE(::mount(nullptr, "/media/ZR605", nullptr, MS_REMOUNT, "size=256m"), 0);
        QFile config(QStringLiteral("/media/ZR605/config.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        QByteArray lines = "channel=7\nlanguage=1\nudpcontrol=true\n[playlist]\nsize=1\n1\\track=a.mp4\n";
        for (int block = 0; config.size() < 150 * 1000 * 1000; ++block, lines.clear()) {
            for (int i = 0; i < 100000; ++i)
                lines += 'k' + QByteArray::number(block * 100000 + i) + "=1\n";
            QVERIFY(config.write(lines) == lines.size());
        }
        config.close();

        QElapsedTimer clock;
        clock.start();
        DaemonProcess daemon;
        QVERIFY(daemon.start());
        QTcpSocket client;
        QVERIFY(QTest::qWaitFor([&] { return connectOnce(client); }, 30000));
        const qint64 portOpenMs = clock.elapsed();

        const QJsonValue search = CtlProcess::run({"discover", "--search", "--json"}).json()[0]["search"];
        const CtlProcess::Result files = CtlProcess::run({"files", "192.168.77.2", "--password", "secret", "--json"});
        const qint64 rss = daemon.rssKiB();
        qInfo("150 MB config.ini: TCP port open after %lld ms, RSS %lld KiB after a search and a file list", portOpenMs, rss);
        QVERIFY(portOpenMs < 5000);
        QVERIFY(rss < 64 * 1024);
        QCOMPARE(search["configPresent"], QJsonValue(true));
        QCOMPARE(search["channel"], QJsonValue(1));
        QVERIFY2(files.json()["files"].toArray() == QJsonArray{"/media/ZR605/config.ini"}, files.out + files.err);
        DeviceFiles::removeFile(config.fileName());
    }

    // A valid reset file or update pair that cannot be removed from the stick is not used: three
    // starts, no reboot, no reset, and each time a notice on the television in the stick's language.
    void readOnlyStickCausesNoRebootLoop_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<QString>("notice");
        QTest::newRow("reset file") << ".__zr605__reset" << QByteArray("0")
                                    << "note:USB stick|Cannot remove the reset file from the USB stick (write-protected?). Nothing was reset.";
        QTest::newRow("update pair, Polish") << "quorvant" << QByteArray("1")
                                             << "note:Pamięć USB|Nie można usunąć pliku z pamięci USB (zabezpieczona przed zapisem?). Plik nie został użyty.";
    }

    void readOnlyStickCausesNoRebootLoop()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, language);
        QFETCH(QString, notice);
        DeviceFiles::clearStick();
        DeviceFiles::removeFile("/cfg/quorvant");
        DeviceFiles::writeSettings({ { "NET_MODE", "static" }, { "NAME", "Kept" } });
        DeviceFiles::writeStickConfig("language=" + language + "\n");
        const QByteArray program = DeviceFiles::readFile(Box::daemonPath());
        if (file == "quorvant") {
            DeviceFiles::writeStickFile("quorvant", program);
            DeviceFiles::writeStickFile("quorvant.md5", md5Hex(program));
        } else {
            QByteArray json = R"({"network": true, "password": true})";
            json.append(QByteArray((16 - json.size() % 16) % 16, '\0'));
            DeviceFiles::writeStickFile(file, FileCrypt().encrypt(json));
        }
        // A read-only copy of the stick mounted over it, as the kernel does after an error.
        QCOMPARE(::mount("/media/ZR605", "/media/ZR605", nullptr, MS_BIND, nullptr), 0);
        m_readOnlyCopy = true;
        QCOMPARE(::mount(nullptr, "/media/ZR605", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        Box::clearCommandLog();
        FakeMediaCentre centre;
        QVERIFY(centre.listen());
        int noticed = 0;
        for (int start = 0; start < 3; ++start) {
            centre.clearRequests();
            DaemonProcess daemon;
            QVERIFY(daemon.start());
            noticed += QTest::qWaitFor([&] { return centre.lines().contains(notice); }, 20000);
            QTest::qWait(2500); // a reboot would follow the last notice within 2000 ms
            daemon.stop();
        }
        qInfo() << "reboots over three starts:" << Box::commandLog().filter("reboot").size();
        QCOMPARE(Box::commandLog().filter("reboot"), QStringList());
        QCOMPARE(noticed, 3);
        QVERIFY(QFile::exists(Box::stickPath() + "/" + file));
        QVERIFY(!QFile::exists("/cfg/quorvant"));
        QCOMPARE(QSettings("/cfg/settings.cfg", QSettings::IniFormat).value("NAME").toString(), QString("Kept"));
    }

    // Killed at a random instant after a network change arrived, the box comes up with the
    // configuration before the change or the new one, the same in the settings and the interface file.
    void killDuringNetworkChangeLeavesOneConfiguration()
    {
        using TcpProtocol::msgNetworkConfiguration;
        const msgNetworkConfiguration configurations[] = { { "192.168.77.2", "192.168.77.1", 24, false, "00000000", 0 },
                                                           { "", "", 0, true, "00000000", 0 },
                                                           { "192.168.77.2", "192.168.77.3", 25, false, "00000000", 0 } };
        DeviceFiles::writeFile(settingsPath, "[General]\nNET_MODE=static\nNET_IP=192.168.77.2\nNET_MASK=255.255.255.0\n"
                                             "NET_ROUTE=192.168.77.1\n");
        DeviceFiles::writeFile("/cfg/eth0", interfaceFile(configurations[0]));
        // What a kill in the middle of a settings write can leave: an empty lock file.
        DeviceFiles::writeFile("/cfg/settings.cfg.lock", {});
        QRandomGenerator random(1206);
        int newOnes = 0;
        for (int round = 1; round <= 24; ++round) {
            const QByteArray before = DeviceFiles::readFile("/cfg/eth0");
            const QByteArray wanted = interfaceFile(configurations[round % 3]);
            {
                DaemonProcess daemon;
                QTcpSocket client;
                QVERIFY(daemon.start() && logIn(client));
                client.write(TcpProtocol::networkConfigurationRequest(configurations[round % 3]));
                QVERIFY(client.waitForBytesWritten(5000));
                QThread::msleep(random.bounded(60));
                daemon.kill();
            }
            DaemonProcess restarted;
            QTcpSocket client;
            QVERIFY(restarted.start() && logIn(client));
            restarted.stop();
            const QByteArray now = DeviceFiles::readFile("/cfg/eth0");
            QVERIFY2(now == before || now == wanted, now.constData());
            QCOMPARE(interfaceFileFromSettings(), now);
            newOnes += now == wanted;
        }
        qInfo("24 kills: %d left the new configuration, the others the one before", newOnes);
    }

    // A lock file left by a kill in the middle of a settings write holds nothing up: the log-in is
    // answered about as soon as without one (the settings class would wait 30 s for it to go stale).
    void staleSettingsLockHoldsNothingUp()
    {
        const auto msToLogIn = [] {
            QElapsedTimer clock;
            clock.start();
            DaemonProcess daemon;
            QTcpSocket client;
            return daemon.start() && logIn(client) ? clock.elapsed() : -1;
        };
        const qint64 clean = msToLogIn();
        DeviceFiles::writeFile("/cfg/settings.cfg.lock", {});
        const qint64 stale = msToLogIn();
        qInfo("log-in answered %lld ms after the start, %lld ms with a stale lock", clean, stale);
        QVERIFY(clean >= 0);
        QVERIFY2(stale >= 0 && stale < clean + 15000, qPrintable(QString::number(stale)));
    }

    void cleanup()
    {
        if (m_readOnlyCopy)
            ::umount("/media/ZR605"); // back to the writable stick of the box
        m_readOnlyCopy = false;
    }

private:
    bool m_readOnlyCopy = false;
};

QUORVANT_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
