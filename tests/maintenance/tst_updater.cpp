#include "maintenance/updater.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QtTest/QtTest>

namespace {

const QString installed = QStringLiteral("/cfg/quorvant");
const QByteArray oldProgram = "#!/bin/sh\necho old\n";
const QByteArray banner(80, '#');

QByteArray newProgram(int size = 3000)
{
    QByteArray program = "\x7f" "ELF new build ";
    while (program.size() < size)
        program += QByteArray::number(program.size());
    return program.left(size);
}

// "digest  name\n", the way an installer makes the control file.
QByteArray md5sumLine(const QString &path)
{
    QProcess md5sum;
    md5sum.setWorkingDirectory(QFileInfo(path).absolutePath());
    md5sum.start(QStringLiteral("md5sum"), { QFileInfo(path).fileName() });
    if (!md5sum.waitForFinished(30000) || md5sum.exitCode() != 0)
        qFatal("md5sum failed");
    return md5sum.readAllStandardOutput();
}

// mount is a recording stand-in inside the box; the test needs the real one.
void runReal(const QString &program, const QStringList &arguments)
{
    const QString path = program == QLatin1String("mount") ? Box::realProgram(program) : program;
    if (QProcess::execute(path, arguments) != 0)
        qFatal("%s failed", qPrintable(program));
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pairIsFoundInEitherOrder_data();
    void pairIsFoundInEitherOrder();
    void updateRun_data();
    void updateRun();
    void bootConfigGetsOnlyMissingLines_data();
    void bootConfigGetsOnlyMissingLines();
    void networkMarkerSwitchesToDhcpAndDefersUpdate_data();
    void networkMarkerSwitchesToDhcpAndDefersUpdate();
    void failedCopyKeepsOldProgram_data();
    void failedCopyKeepsOldProgram();
    void noticesSpeakPolish_data();
    void noticesSpeakPolish();

private:
    QStringList waitForTitles(Updater &updater, const QString &lastTitle);
    void expectNoRebootWithin(int ms);

    bool m_tinyCfg = false;
};

void TestUpdater::init()
{
    DeviceFiles::clearStick();
    QDir(QStringLiteral("/media/BACKUP")).removeRecursively();
    DeviceFiles::writeFile(installed, oldProgram);
    DeviceFiles::removeFile(QString::fromLatin1(Updater::bootConfigPath));
    Box::clearCommandLog();
}

void TestUpdater::cleanup()
{
    if (m_tinyCfg)
        runReal(QStringLiteral("umount"), { QStringLiteral("/cfg") });
    m_tinyCfg = false;
}

// Collects notice titles until `lastTitle` arrives (or the wait gives up).
QStringList TestUpdater::waitForTitles(Updater &updater, const QString &lastTitle)
{
    QStringList titles;
    QObject context;
    connect(&updater, &Updater::updateInfo, &context, [&titles](const QString &title, const QString &, int duration) {
        QCOMPARE(duration, 5000);
        titles << title;
    });
    updater.checkForUpdates();
    if (!QTest::qWaitFor([&] { return titles.contains(lastTitle); }, 10000))
        qWarning("no \"%s\" notice", qPrintable(lastTitle));
    return titles;
}

void TestUpdater::expectNoRebootWithin(int ms)
{
    QTest::qWait(ms);
    QVERIFY(!Box::commandLog().contains(QStringLiteral("reboot -f")));
}

void TestUpdater::pairIsFoundInEitherOrder_data()
{
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("program");

    QTest::newRow("program first") << QStringList{ "/media/s/quorvant", "/media/s/quorvant.md5" }
                                   << "/media/s/quorvant.md5" << "/media/s/quorvant";
    QTest::newRow("control first") << QStringList{ "/media/s/quorvant.md5", "/media/s/quorvant" }
                                   << "/media/s/quorvant.md5" << "/media/s/quorvant";
    QTest::newRow("any program name") << QStringList{ "/media/s/QUORVANT-4.1", "/media/t/quorvant.md5" }
                                      << "/media/t/quorvant.md5" << "/media/s/QUORVANT-4.1";
    QTest::newRow("third file ignored") << QStringList{ "/media/s/quorvant", "/media/s/quorvant.txt", "/media/s/quorvant.md5" }
                                        << QString() << QString();
    QTest::newRow("suffix is case-sensitive") << QStringList{ "/media/s/quorvant", "/media/s/quorvant.MD5" }
                                              << QString() << QString();
    QTest::newRow("single file") << QStringList{ "/media/s/quorvant.md5" } << QString() << QString();
}

void TestUpdater::pairIsFoundInEitherOrder()
{
    QFETCH(QStringList, found);
    QFETCH(QString, control);
    QFETCH(QString, program);

    const Updater::UpdatePair pair = Updater::pickUpdatePair(found);
    QCOMPARE(pair.isValid(), !control.isEmpty());
    QCOMPARE(pair.controlFile, control);
    QCOMPARE(pair.programFile, program);
}

void TestUpdater::updateRun_data()
{
    QTest::addColumn<QString>("program");      // path of the program file, empty for none
    QTest::addColumn<QString>("second");       // path of a second update file
    QTest::addColumn<QByteArray>("secondBytes"); // its content; "md5sum" makes a real control line
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<bool>("installs");
    QTest::addColumn<bool>("filesStay");

    const QString stick = QStringLiteral("/media/ZR605/");
    const QStringList success{ "Update", "Data verified", "Update success" };
    QTest::newRow("md5sum pair") << stick + "quorvant" << stick + "quorvant.md5" << QByteArray("md5sum") << success
                                 << true << false;
    QTest::newRow("pair in a folder of another volume")
        << "/media/BACKUP/new/quorvant" << "/media/BACKUP/new/quorvant.md5" << QByteArray("md5sum") << success
        << true << false;
    QTest::newRow("upper-case digest") << stick + "quorvant" << stick + "quorvant.md5" << QByteArray("upper")
                                       << QStringList{ "Update", "Corrupted data", "Checksums" } << false << false;
    QTest::newRow("digest of another file") << stick + "quorvant" << stick + "quorvant.md5"
                                            << QByteArray("0123456789abcdef0123456789abcdef  quorvant\n")
                                            << QStringList{ "Update", "Corrupted data", "Checksums" } << false << false;
    QTest::newRow("truncated digest") << stick + "quorvant" << stick + "quorvant.md5" << QByteArray("short")
                                      << QStringList{ "Update", "Corrupted data", "Checksums" } << false << false;
    QTest::newRow("empty control file") << stick + "quorvant" << stick + "quorvant.md5" << QByteArray()
                                        << QStringList{ "Update", "Checksums" } << false << false;
    QTest::newRow("second file not a control file")
        << stick + "quorvant" << stick + "quorvant.txt" << QByteArray("notes")
        << QStringList{ "Update", "No update control file" } << false << false;
    QTest::newRow("program alone") << stick + "quorvant" << QString() << QByteArray() << QStringList{ "Update" }
                                   << false << true;
    QTest::newRow("control file alone") << QString() << stick + "quorvant.md5" << QByteArray("md5sum")
                                        << QStringList{ "Update" } << false << true;
}

void TestUpdater::updateRun()
{
    QFETCH(QString, program);
    QFETCH(QString, second);
    QFETCH(QByteArray, secondBytes);
    QFETCH(QStringList, titles);
    QFETCH(bool, installs);
    QFETCH(bool, filesStay);

    const QByteArray programBytes = newProgram();
    DeviceFiles::writeFile(program.isEmpty() ? QStringLiteral("/tmp/quorvant") : program, programBytes);
    const QByteArray line = md5sumLine(program.isEmpty() ? QStringLiteral("/tmp/quorvant") : program);
    if (secondBytes == "md5sum")
        secondBytes = line;
    else if (secondBytes == "upper")
        secondBytes = line.left(32).toUpper() + line.mid(32);
    else if (secondBytes == "short")
        secondBytes = line.left(31);
    if (!second.isEmpty())
        DeviceFiles::writeFile(second, secondBytes);
    DeviceFiles::writeFile(QString::fromLatin1(Updater::bootConfigPath), "audio_pwm_mode=2\nhdmi_group=1\nhdmi_mode=16\n");

    Updater updater;
    QElapsedTimer clock;
    clock.start();
    qint64 successAt = -1;
    connect(&updater, &Updater::updateInfo, [&](const QString &title) {
        if (title == QLatin1String("Update success"))
            successAt = clock.elapsed();
    });
    QCOMPARE(waitForTitles(updater, titles.last()), titles);

    QCOMPARE(QFile::exists(program) || QFile::exists(second), filesStay);
    if (!installs) {
        QCOMPARE(DeviceFiles::readFile(installed), oldProgram);
        expectNoRebootWithin(2500);
        return;
    }
    QCOMPARE(DeviceFiles::readFile(installed), programBytes);
    QVERIFY(QFileInfo(installed).isExecutable());
    QVERIFY(!QFile::exists(QStringLiteral("/cfg/.quorvant.new")));
    QTRY_VERIFY_WITH_TIMEOUT(Box::commandLog().contains(QStringLiteral("reboot -f")), 10000);
    const qint64 delay = clock.elapsed() - successAt;
    qInfo("reboot %lld ms after the success notice", delay);
    QVERIFY2(delay >= 1900, "the reboot must leave the notice time to show");
    QCOMPARE(Box::commandLog(), QStringList({ "mount -o remount,rw /boot", "mount -o remount,ro /boot", "reboot -f" }));
}

void TestUpdater::bootConfigGetsOnlyMissingLines_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("appended");

    const QByteArray audio = "\n# Audio config\naudio_pwm_mode=2";
    const QByteArray group = "\n# HDMI config\nhdmi_group=1";
    const QByteArray mode = "\n# HDMI config\nhdmi_mode=16";
    QTest::newRow("all present") << QByteArray("hdmi_mode=16\r\naudio_pwm_mode=2 # pwm\nhdmi_group=1") << QByteArray();
    QTest::newRow("only audio") << QByteArray("gpu_mem=128\naudio_pwm_mode=2\n")
                                << "\n\n" + banner + group + mode + "\n\n" + banner;
    QTest::newRow("commented mode line") << QByteArray("audio_pwm_mode=2\nhdmi_group=1\n#hdmi_mode=16\n")
                                         << "\n\n" + banner + mode + "\n\n" + banner;
    QTest::newRow("indented line does not count") << QByteArray(" audio_pwm_mode=2\nhdmi_group=1\nhdmi_mode=16")
                                                  << "\n\n" + banner + audio + "\n\n" + banner;
    QTest::newRow("empty file") << QByteArray() << "\n\n" + banner + audio + group + mode + "\n\n" + banner;
}

void TestUpdater::bootConfigGetsOnlyMissingLines()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, appended);
    const QString path = QString::fromLatin1(Updater::bootConfigPath);
    DeviceFiles::writeFile(path, config);

    Updater updater;
    QVERIFY(updater.checkConfigFile());
    QCOMPARE(DeviceFiles::readFile(path), config + appended);
    // A second pass finds everything in place and leaves the file alone.
    QVERIFY(updater.checkConfigFile());
    QCOMPARE(DeviceFiles::readFile(path), config + appended);
}

void TestUpdater::networkMarkerSwitchesToDhcpAndDefersUpdate_data()
{
    QTest::addColumn<bool>("withUpdate");
    QTest::newRow("marker alone") << false;
    QTest::newRow("marker and an update pair") << true;
}

void TestUpdater::networkMarkerSwitchesToDhcpAndDefersUpdate()
{
    QFETCH(bool, withUpdate);
    DeviceFiles::writeSettings({ { "NET_MODE", "static" }, { "NET_IP", "10.1.2.3" } });
    DeviceFiles::writeFile(QStringLiteral("/cfg/eth0"), "auto eth0\niface eth0 inet static\n");
    DeviceFiles::writeStickFile(QStringLiteral("resetnetwork.txt"), "anything");
    if (withUpdate) {
        DeviceFiles::writeStickFile(QStringLiteral("quorvant"), newProgram());
        DeviceFiles::writeStickFile(QStringLiteral("quorvant.md5"), md5sumLine(Box::stickPath() + "/quorvant"));
    }

    Updater updater;
    QSignalSpy notices(&updater, &Updater::updateInfo);
    updater.checkForUpdates();

    QVERIFY(!QFile::exists(Box::stickPath() + "/resetnetwork.txt"));
    QCOMPARE(QSettings(QStringLiteral("/cfg/settings.cfg"), QSettings::IniFormat).value("NET_MODE").toString(),
             QStringLiteral("dhcp"));
    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")), QByteArray("auto eth0\niface eth0 inet dhcp\n"));
    expectNoRebootWithin(2000);
    QCOMPARE(notices.count(), 0);
    QCOMPARE(QFile::exists(Box::stickPath() + "/quorvant"), withUpdate);
    QCOMPARE(DeviceFiles::readFile(installed), oldProgram);
}

void TestUpdater::failedCopyKeepsOldProgram_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("/cfg full") << false;
    QTest::newRow("/cfg read-only") << true;
}

void TestUpdater::failedCopyKeepsOldProgram()
{
    QFETCH(bool, readOnly);
    runReal(QStringLiteral("mount"), { "-t", "tmpfs", "-o", "size=64k", "tinycfg", "/cfg" });
    m_tinyCfg = true;
    DeviceFiles::writeFile(installed, oldProgram);
    if (readOnly)
        runReal(QStringLiteral("mount"), { "-o", "remount,ro", "/cfg" });
    const QByteArray program = newProgram(readOnly ? 3000 : 256 * 1024);
    DeviceFiles::writeStickFile(QStringLiteral("quorvant"), program);
    DeviceFiles::writeStickFile(QStringLiteral("quorvant.md5"), md5sumLine(Box::stickPath() + "/quorvant"));

    Updater updater;
    QCOMPARE(waitForTitles(updater, QStringLiteral("Update error")),
             QStringList({ "Update", "Data verified", "Update error" }));

    QCOMPARE(DeviceFiles::readFile(installed), oldProgram);
    QCOMPARE(QDir(QStringLiteral("/cfg")).entryList(QDir::Files | QDir::Hidden), QStringList{ "quorvant" });
    QCOMPARE(DeviceFiles::readFile(Box::stickPath() + "/quorvant"), program);
    QVERIFY(QFile::exists(Box::stickPath() + "/quorvant.md5"));
    expectNoRebootWithin(2500);
}

void TestUpdater::noticesSpeakPolish_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<QStringList>("notices");

    QTest::newRow("no files") << QString() << QStringList{ "Aktualizacja / Nie znaleziono plików aktualizacji" };
    QTest::newRow("no control file")
        << QStringLiteral("quorvant.txt")
        << QStringList{ "Aktualizacja / Znaleziono pliki aktualizacji. Uruchamianie aktualizacji...",
                        "Brak pliku kontrolnego aktualizacji / Aktualizacja przerwana. Usuwanie plików aktualizacji." };
    QTest::newRow("empty control file")
        << QStringLiteral("quorvant.md5")
        << QStringList{ "Aktualizacja / Znaleziono pliki aktualizacji. Uruchamianie aktualizacji...",
                        "Sumy kontrolne / Błąd zgodności sum kontrolnych. Aktualizacja przerwana." };
}

void TestUpdater::noticesSpeakPolish()
{
    QFETCH(QString, second);
    QFETCH(QStringList, notices);
    QTranslator polish;
    QVERIFY(polish.load(QStringLiteral("polish.qm"), QStringLiteral(":/translations")));
    QCoreApplication::installTranslator(&polish);
    const auto uninstall = qScopeGuard([&polish] { QCoreApplication::removeTranslator(&polish); });
    DeviceFiles::writeStickFile(QStringLiteral("quorvant"), newProgram());
    if (!second.isEmpty())
        DeviceFiles::writeStickFile(second, QByteArray());

    Updater updater;
    QStringList shown;
    connect(&updater, &Updater::updateInfo, [&shown](const QString &title, const QString &info) {
        shown << title + " / " + info;
    });
    updater.checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(shown, notices, 10000);
}

QUORVANT_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"
