// The daemon's start-up as a whole: the forced file-system check, the stale log and the silence
// after the message handler is installed.

#include <QtTest>

#include "tests/support/box.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"

namespace {

const QString forcedCheckMarker = QStringLiteral("/forcefsck");
const QString settingsPath = QStringLiteral("/cfg/settings.cfg");
const QString staleLog = QStringLiteral("/tmp/.__zr605_log__.log");

// With DHCP on, the last start-up step copies the live address into the settings, which the
// daemon writes out once its event loop runs: proof that start-up went all the way through.
bool startupCompleted()
{
    return DeviceFiles::readFile(settingsPath).contains("NET_IP=192.168.77.2");
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
    }

    void fileSystemCheckIsForcedOnlyWithoutMarker_data()
    {
        QTest::addColumn<bool>("markerPresent");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("marker absent")
            << false << QStringList{"mount -o remount,rw /dev/mmcblk0p2", "reboot -f"};
        QTest::newRow("marker present") << true << QStringList{};
    }

    void fileSystemCheckIsForcedOnlyWithoutMarker()
    {
        QFETCH(bool, markerPresent);
        QFETCH(QStringList, commands);
        if (markerPresent)
            DeviceFiles::writeFile(forcedCheckMarker, {});
        else
            DeviceFiles::removeFile(forcedCheckMarker);

        DaemonProcess daemon;
        QVERIFY(daemon.start());
        QTRY_VERIFY_WITH_TIMEOUT(startupCompleted(), 20000);
        QVERIFY(daemon.isRunning());
        QCOMPARE(Box::commandLog(), commands);
        QVERIFY(QFile::exists(forcedCheckMarker));
    }

    void staleLogIsRemovedAndNothingIsPrintedAfterTheHandler()
    {
        DeviceFiles::writeFile(staleLog, "old run\n");
        DaemonProcess daemon;
        QVERIFY(daemon.start());
        QTRY_VERIFY_WITH_TIMEOUT(startupCompleted(), 20000);
        QVERIFY(!QFile::exists(staleLog));
        daemon.stop();
        // Only what comes before the handler is installed reaches the default output.
        const QStringList printed = QString::fromUtf8(daemon.output()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(printed, (QStringList{"Create log file", "Start application", "Install message handler"}));
        QVERIFY(!QFile::exists(staleLog));
    }
};

QUORVANT_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
