// Start-up: the forced file-system check, the stale log, the silence after the message handler
// is installed, and the language chosen from the stick configuration.

#include <QtTest>

#include "app/language.h"
#include "tests/support/box.h"
#include "tests/support/daemonprocess.h"
#include "tests/support/devicefiles.h"

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

    void languageCodeSelectsCodecAndCatalogue_data()
    {
        QTest::addColumn<QVariant>("language");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("version"); // "Version" as the player would show it
        QTest::newRow("1 Polish") << QVariant(1) << true << "Wersja";
        QTest::newRow("256 narrows to 0") << QVariant(256) << true << "Version";
        QTest::newRow("word Polish reads 0") << QVariant("Polish") << true << "Version";
        QTest::newRow("2 changes nothing") << QVariant(2) << false << "Version";
    }

    void languageCodeSelectsCodecAndCatalogue()
    {
        QFETCH(QVariant, language);
        QFETCH(bool, installed);
        QCoreApplication::removeTranslator(&translator);
        translator.load(nullptr, 0); // drops what an earlier row loaded
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        // Written through the settings view this process shares with setLanguage.
        QSettings config(Box::stickPath() + "/config.ini", QSettings::IniFormat);
        config.setValue("language", language);

        setLanguage(*QCoreApplication::instance());

        QTEST(QCoreApplication::translate("PlayerManager", "Version"), "version");
        QCOMPARE(QTextCodec::codecForLocale()->name(), QByteArray(installed ? "ISO-8859-2" : "UTF-8"));
        QCOMPARE(QCoreApplication::removeTranslator(&translator), installed);
    }
};

QUORVANT_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
