#include "maintenance/updater.h"
#include "tests/support/testmain.h"

namespace {
const QString installed = QStringLiteral("/cfg/quorvant");
const QString trial = QString::fromLatin1(Updater::trialMarker);
const QString previous = QString::fromLatin1(Updater::previousProgram);
const QString stick = QStringLiteral("/media/ZR605/");
const QString bootConfig = QString::fromLatin1(Updater::bootConfigPath);
const QByteArray oldProgram = "#!/bin/sh\necho old\n";
// A program that runs here: this test's own.
const QByteArray newProgram = [] {
    QFile self(QStringLiteral("/proc/self/exe"));
    return self.open(QIODevice::ReadOnly) ? self.readAll() : QByteArray();
}();
const QByteArray banner(80, '#');

// "digest  name\n", the way md5sum makes the control file.
QByteArray md5Line(const QByteArray &program)
{
    return md5Hex(program) + "  quorvant\n";
}

void writeStickPair(const QByteArray &program)
{
    DeviceFiles::writeStickFile(QStringLiteral("quorvant"), program);
    DeviceFiles::writeStickFile(QStringLiteral("quorvant.md5"), md5Line(program));
}

// Runs a check and returns its notices (shown together once the run starts), then waits for the
// reboot: up to 15 s after a success notice, else 2.5 s in which none may come.
QStringList runUpdater(qint64 *rebootDelayMs = nullptr)
{
    Updater updater;
    QStringList titles;
    QElapsedTimer sinceSuccess;
    QObject::connect(&updater, &Updater::updateInfo, [&](const QString &title) {
        titles << title;
        if (title == "Update success")
            sinceSuccess.start();
    });
    updater.checkForUpdates();
    const bool noticed = QTest::qWaitFor([&] { return !titles.isEmpty(); }, 10000);
    const auto rebooted = [] { return Box::commandLog().contains("reboot -f"); };
    if (noticed && QTest::qWaitFor(rebooted, sinceSuccess.isValid() ? 15000 : 2500) && rebootDelayMs)
        *rebootDelayMs = sinceSuccess.elapsed();
    return titles;
}
} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        DeviceFiles::clearStick();
        QDir(QStringLiteral("/media/BACKUP")).removeRecursively();
        DeviceFiles::writeFile(installed, oldProgram);
        QFile::remove(trial);
        QFile::remove(previous);
        DeviceFiles::writeFile(bootConfig, "audio_pwm_mode=2\nhdmi_group=1\nhdmi_mode=16\n");
        Box::clearCommandLog();
    }

    void pairIsFoundInEitherOrder_data()
    {
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QString>("pair"); // control and program file
        const QString pair = "/media/t/quorvant.md5 /media/s/QUORVANT-4.1";
        QTest::newRow("program first") << QStringList{ "/media/s/QUORVANT-4.1", "/media/t/quorvant.md5" } << pair;
        QTest::newRow("control first") << QStringList{ "/media/t/quorvant.md5", "/media/s/QUORVANT-4.1" } << pair;
        QTest::newRow("suffix is case-sensitive") << QStringList{ "/media/s/quorvant", "/media/s/quorvant.MD5" } << " ";
    }

    void pairIsFoundInEitherOrder()
    {
        QFETCH(QStringList, found);
        const Updater::UpdatePair pair = Updater::pickUpdatePair(found);
        QTEST(pair.controlFile + ' ' + pair.programFile, "pair");
    }

    void updateRun_data()
    {
        QTest::addColumn<QString>("folder"); // holding the program "quorvant"
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QString>("control"); // name of the second file; empty: none
        QTest::addColumn<QByteArray>("controlBytes");
        QTest::addColumn<QStringList>("titles");
        const QStringList success{ "Update", "Data verified", "Update success" };
        const QByteArray line = md5Line(newProgram);
        QTest::newRow("pair in a folder of another volume") << "/media/BACKUP/new/" << newProgram << "quorvant.md5" << line << success;
        QTest::newRow("upper-case digest") << stick << newProgram << "quorvant.md5" << line.toUpper()
                                           << QStringList{ "Update", "Corrupted data", "Checksums" };
        QTest::newRow("empty control file") << stick << newProgram << "quorvant.md5" << QByteArray() << QStringList{ "Update", "Checksums" };
        QTest::newRow("quorvant.txt beside") << stick << newProgram << "quorvant.txt" << QByteArray("notes")
                                             << QStringList{ "Update", "No update control file" };
        QTest::newRow("program alone") << stick << newProgram << QString() << QByteArray() << QStringList{ "Update" };
        // Refused before anything is touched: the box would restart a program that cannot run for ever.
        QByteArray otherMachine = newProgram, otherClass = newProgram;
        otherMachine[18] = char(otherMachine[18] ^ 0x01); // x86-64 62 <-> 63, ARM 40 <-> 41
        otherClass[4] = char(3 - otherClass[4]);          // 32-bit <-> 64-bit
        const QByteArray script = "#!/bin/sh\nexec sleep 1000\n", cutShort = newProgram.left(newProgram.size() / 2);
        const QStringList refused{ "Update", "Data verified", "Update error" };
        QTest::newRow("another machine") << stick << otherMachine << "quorvant.md5" << md5Line(otherMachine) << refused;
        QTest::newRow("another word size") << stick << otherClass << "quorvant.md5" << md5Line(otherClass) << refused;
        QTest::newRow("a script") << stick << script << "quorvant.md5" << md5Line(script) << refused;
        QTest::newRow("cut short") << stick << cutShort << "quorvant.md5" << md5Line(cutShort) << refused;
    }

    void updateRun()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, program);
        QFETCH(QString, control);
        QFETCH(QByteArray, controlBytes);
        QFETCH(QStringList, titles);
        DeviceFiles::writeFile(folder + "quorvant", program);
        if (!control.isEmpty())
            DeviceFiles::writeFile(folder + control, controlBytes);

        qint64 rebootDelayMs = -1;
        QCOMPARE(runUpdater(&rebootDelayMs), titles);
        const bool installs = titles.last() == "Update success";
        QCOMPARE(DeviceFiles::readFile(installed), installs ? newProgram : oldProgram);
        // A pair is taken off the stick whatever came of it; a program alone is left.
        QCOMPARE(QFile::exists(folder + "quorvant"), control.isEmpty());
        QVERIFY(control.isEmpty() || !QFile::exists(folder + control));
        const QStringList commands{ "mount -o remount,rw /boot", "mount -o remount,ro /boot", "reboot -f" };
        QCOMPARE(Box::commandLog(), installs ? commands : QStringList());
        QVERIFY(!installs || QFileInfo(installed).isExecutable());
        // The new program starts on trial, the one it replaced kept for the fall-back.
        QCOMPARE(QFile::exists(trial) ? DeviceFiles::readFile(trial) : "none", QByteArray(installs ? "0\n" : "none"));
        QCOMPARE(QFile::exists(previous) ? DeviceFiles::readFile(previous) : "none", installs ? oldProgram : "none");
        if (installs) // the notice needs time to show
            QVERIFY2(rebootDelayMs >= 1990, qPrintable(QString::number(rebootDelayMs)));
    }

    void bootConfigGetsOnlyMissingLines_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("appended");
        const QByteArray audio = "\n# Audio config\naudio_pwm_mode=2";
        const QByteArray group = "\n# HDMI config\nhdmi_group=1";
        const QByteArray mode = "\n# HDMI config\nhdmi_mode=16";
        const QByteArray end = "\n\n" + banner;
        QTest::newRow("all present") << QByteArray("hdmi_mode=16\r\naudio_pwm_mode=2 # pwm\nhdmi_group=1") << QByteArray();
        QTest::newRow("only audio") << QByteArray("gpu_mem=128\naudio_pwm_mode=2\n") << end + group + mode + end;
        QTest::newRow("commented mode") << QByteArray("audio_pwm_mode=2\nhdmi_group=1\n#hdmi_mode=16\n") << end + mode + end;
        QTest::newRow("empty file") << QByteArray() << end + audio + group + mode + end;
    }

    void bootConfigGetsOnlyMissingLines()
    {
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, appended);
        DeviceFiles::writeFile(bootConfig, config);
        Updater updater;
        for (int pass = 0; pass < 2; ++pass) { // the second pass finds everything and appends nothing
            QVERIFY(updater.checkConfigFile());
            QCOMPARE(DeviceFiles::readFile(bootConfig), config + appended);
        }
    }

    // /boot stays read-only when its remount fails: missing lines that cannot be added are reported,
    // and a file that already holds them all needs nothing. The update goes ahead either way.
    void readOnlyBootConfig_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("lines missing") << QByteArray("gpu_mem=128\n")
                                       << QStringList{ "Update", "Data verified", "Error", "Update success" };
        QTest::newRow("all present") << QByteArray("audio_pwm_mode=2\nhdmi_group=1\nhdmi_mode=16\n")
                                     << QStringList{ "Update", "Data verified", "Update success" };
    }

    void readOnlyBootConfig()
    {
        QFETCH(QByteArray, config);
        const QString mount = Box::realProgram("mount");
        QCOMPARE(QProcess::execute(mount, { "-t", "tmpfs", "tinyboot", "/boot" }), 0);
        const auto unmount = qScopeGuard([] { QProcess::execute("umount", { "/boot" }); });
        DeviceFiles::writeFile(bootConfig, config);
        QCOMPARE(QProcess::execute(mount, { "-o", "remount,ro", "/boot" }), 0);
        writeStickPair(newProgram);

        QTEST(runUpdater(), "titles");
        QCOMPARE(DeviceFiles::readFile(bootConfig), config);
        QCOMPARE(DeviceFiles::readFile(installed), newProgram);
    }

    void networkMarkerSwitchesToDhcpAndDefersUpdate()
    {
        DeviceFiles::writeSettings({ { "NET_MODE", "static" }, { "NET_IP", "10.1.2.3" } });
        DeviceFiles::writeStickFile(QStringLiteral("resetnetwork.txt"), "anything");
        writeStickPair(newProgram);

        QCOMPARE(runUpdater(), QStringList());
        QVERIFY(!QFile::exists(stick + "resetnetwork.txt") && QFile::exists(stick + "quorvant"));
        QCOMPARE(QSettings("/cfg/settings.cfg", QSettings::IniFormat).value("NET_MODE").toString(), "dhcp");
        QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")), QByteArray("auto eth0\niface eth0 inet dhcp\n"));
        QCOMPARE(DeviceFiles::readFile(installed), oldProgram);
        QCOMPARE(Box::commandLog(), QStringList());
    }

    void failedCopyKeepsOldProgram_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("/cfg full") << false;
        QTest::newRow("/cfg read-only") << true;
    }

    void failedCopyKeepsOldProgram()
    {
        QFETCH(bool, readOnly);
        const QString mount = Box::realProgram("mount");
        QCOMPARE(QProcess::execute(mount, { "-t", "tmpfs", "-o", "size=64k", "tinycfg", "/cfg" }), 0);
        const auto unmount = qScopeGuard([] { QProcess::execute("umount", { "/cfg" }); });
        DeviceFiles::writeFile(installed, oldProgram);
        if (readOnly)
            QCOMPARE(QProcess::execute(mount, { "-o", "remount,ro", "/cfg" }), 0);
        const QByteArray program = newProgram; // larger than the 64 KiB /cfg
        writeStickPair(program);

        QCOMPARE(runUpdater(), QStringList({ "Update", "Data verified", "Update error" }));
        QCOMPARE(DeviceFiles::readFile(installed), oldProgram);
        QCOMPARE(QDir("/cfg").entryList(QDir::Files | QDir::Hidden), QStringList{ "quorvant" });
        QCOMPARE(DeviceFiles::readFile(stick + "quorvant"), program);
        QVERIFY(QFile::exists(stick + "quorvant.md5"));
        QCOMPARE(Box::commandLog(), QStringList());
    }
};

QUORVANT_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"
