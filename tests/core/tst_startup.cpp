// Start-up of the real daemon: the forced file-system check, the stale log, the silence after the
// message handler is installed, and an update on the stick whose notices, handed from the player's
// worker thread, reach the television (the install itself is proven by the ctl system test).

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest>

#include "tests/support/fakemediacentre.h"
#include "tests/support/testmain.h"
#include "tools/standins/daemonprocess.h"
#include "tools/standins/devicefiles.h"

namespace {

const QString settingsPath = QStringLiteral("/cfg/settings.cfg");
const QString staleLog = QStringLiteral("/tmp/.__zr605_log__.log");

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Box::clearCommandLog();
        DeviceFiles::writeFile(settingsPath, "[General]\nNET_MODE=dhcp\n");
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

    void updateNoticesReachTheMediaCentre()
    {
        DeviceFiles::writeFile(QStringLiteral("/forcefsck"), QByteArray()); // no file-system check reboot
        DeviceFiles::writeStickConfig("showosd=true\n[playlist]\nsize=1\n1\\track=a.mp4\n");
        const QByteArray program = "#!/bin/sh\necho new build\n";
        DeviceFiles::writeStickFile(QStringLiteral("update/quorvant"), program);
        DeviceFiles::writeStickFile(QStringLiteral("update/quorvant.md5"),
                                    QCryptographicHash::hash(program, QCryptographicHash::Md5).toHex() + "  quorvant\n");
        FakeMediaCentre centre;
        QVERIFY(centre.listen());
        DaemonProcess daemon;
        QVERIFY(daemon.start());

        QTRY_VERIFY_WITH_TIMEOUT(Box::commandLog().contains(QStringLiteral("reboot -f")), 30000);
        QStringList notices;
        for (const FakeMediaCentre::Request &request : centre.requests(QStringLiteral("GUI.ShowNotification")))
            notices << request.params().value("title").toString() + " / " + request.params().value("message").toString();
        QCOMPARE(notices.filter(QRegularExpression("^(Update|Data verified)")),
                 QStringList({ "Update / Update files found. Running update...", "Data verified / Updating please wait",
                               "Update success / Rebooting" }));
    }
};

QUORVANT_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
