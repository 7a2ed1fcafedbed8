// Start-up of the real daemon: the forced file-system check, the stale log, and the silence after
// the message handler is installed.

#include <QtTest>

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
};

QUORVANT_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
