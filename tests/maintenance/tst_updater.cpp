#include "maintenance/updater.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QtTest/QtTest>

namespace {
const QString installed = QStringLiteral("/cfg/quorvant");
const QString stick = QStringLiteral("/media/ZR605/");
const QByteArray oldProgram = "#!/bin/sh\necho old\n";
const QByteArray banner(80, '#');

QByteArray newProgram(int size = 3000)
{
    return QByteArray(size, '\x7f');
}

// "digest  name\n", the way an installer makes the control file.
QByteArray md5sumLine(const QString &path)
{
    QProcess md5sum;
    md5sum.setWorkingDirectory(QFileInfo(path).absolutePath());
    md5sum.start("md5sum", { QFileInfo(path).fileName() });
    if (!md5sum.waitForFinished(30000) || md5sum.exitCode() != 0)
        qFatal("md5sum failed");
    return md5sum.readAllStandardOutput();
}

// mount is a recording stand-in inside the box; these tests need the real one.
void runReal(const QString &program, const QStringList &arguments)
{
    if (QProcess::execute(program == "mount" ? Box::realProgram(program) : program, arguments) != 0)
        qFatal("%s failed", qPrintable(program));
}
} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void pairIsFoundInEitherOrder_data();
    void pairIsFoundInEitherOrder();
    void updateRun_data();
    void updateRun();
    void bootConfigGetsOnlyMissingLines_data();
    void bootConfigGetsOnlyMissingLines();
    void networkMarkerSwitchesToDhcpAndDefersUpdate();
    void failedCopyKeepsOldProgram_data();
    void failedCopyKeepsOldProgram();

private:
    QStringList runAndCollectTitles(const QString &lastTitle);

    qint64 m_rebootDelayMs = -1;
};

void TestUpdater::init()
{
    DeviceFiles::clearStick();
    QDir(QStringLiteral("/media/BACKUP")).removeRecursively();
    DeviceFiles::writeFile(installed, oldProgram);
    DeviceFiles::removeFile(QString::fromLatin1(Updater::bootConfigPath));
    Box::clearCommandLog();
}

// Runs a check, collects the notice titles until `lastTitle` and then watches the log for a reboot.
QStringList TestUpdater::runAndCollectTitles(const QString &lastTitle)
{
    Updater updater;
    QStringList titles;
    QElapsedTimer clock;
    clock.start();
    qint64 successAt = -1;
    connect(&updater, &Updater::updateInfo, [&](const QString &title, const QString &, int duration) {
        titles << title;
        successAt = title == "Update success" ? clock.elapsed() : successAt;
        QCOMPARE(duration, 5000);
    });
    updater.checkForUpdates();
    if (!QTest::qWaitFor([&] { return titles.contains(lastTitle); }, 10000))
        qWarning("no \"%s\" notice", qPrintable(lastTitle));
    m_rebootDelayMs = -1;
    for (const qint64 until = clock.elapsed() + 2500; clock.elapsed() < until && m_rebootDelayMs < 0;) {
        QTest::qWait(20);
        if (Box::commandLog().contains("reboot -f"))
            m_rebootDelayMs = clock.elapsed() - successAt;
    }
    return titles;
}

void TestUpdater::pairIsFoundInEitherOrder_data()
{
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<bool>("valid");
    QTest::newRow("program first") << QStringList{ "/media/s/QUORVANT-4.1", "/media/t/quorvant.md5" } << true;
    QTest::newRow("control first") << QStringList{ "/media/t/quorvant.md5", "/media/s/QUORVANT-4.1" } << true;
    QTest::newRow("suffix is case-sensitive") << QStringList{ "/media/s/quorvant", "/media/s/quorvant.MD5" } << false;
}

void TestUpdater::pairIsFoundInEitherOrder()
{
    QFETCH(QStringList, found);
    QFETCH(bool, valid);
    const Updater::UpdatePair pair = Updater::pickUpdatePair(found);
    QCOMPARE(pair.controlFile, valid ? "/media/t/quorvant.md5" : "");
    QCOMPARE(pair.programFile, valid ? "/media/s/QUORVANT-4.1" : "");
}

void TestUpdater::updateRun_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("controlBytes");  // "md5sum": the real control line
    QTest::addColumn<QStringList>("titles");
    const QStringList success{ "Update", "Data verified", "Update success" };
    const QStringList mismatch{ "Update", "Corrupted data", "Checksums" };
    QTest::newRow("md5sum pair") << stick + "quorvant" << stick + "quorvant.md5" << QByteArray("md5sum") << success;
    QTest::newRow("pair in a folder of another volume")
        << "/media/BACKUP/new/quorvant" << "/media/BACKUP/new/quorvant.md5" << QByteArray("md5sum") << success;
    QTest::newRow("upper-case digest") << stick + "quorvant" << stick + "quorvant.md5" << QByteArray("upper") << mismatch;
    QTest::newRow("empty control file") << stick + "quorvant" << stick + "quorvant.md5" << QByteArray()
                                        << QStringList{ "Update", "Checksums" };
    QTest::newRow("quorvant.txt beside") << stick + "quorvant" << stick + "quorvant.txt" << QByteArray("notes")
                                         << QStringList{ "Update", "No update control file" };
    QTest::newRow("program alone") << stick + "quorvant" << QString() << QByteArray() << QStringList{ "Update" };
}

void TestUpdater::updateRun()
{
    QFETCH(QString, program);
    QFETCH(QString, control);
    QFETCH(QByteArray, controlBytes);
    QFETCH(QStringList, titles);
    DeviceFiles::writeFile(program, newProgram());
    const QByteArray line = md5sumLine(program);
    const QMap<QByteArray, QByteArray> made{ { "md5sum", line }, { "upper", line.left(32).toUpper() + line.mid(32) } };
    if (!control.isEmpty())
        DeviceFiles::writeFile(control, made.value(controlBytes, controlBytes));
    DeviceFiles::writeFile(QString::fromLatin1(Updater::bootConfigPath), "audio_pwm_mode=2\nhdmi_group=1\nhdmi_mode=16\n");

    QCOMPARE(runAndCollectTitles(titles.last()), titles);
    const bool installs = titles.last() == "Update success";
    QCOMPARE(DeviceFiles::readFile(installed), installs ? newProgram() : oldProgram);
    QCOMPARE(QFile::exists(program), control.isEmpty());
    if (!installs) {
        QCOMPARE(Box::commandLog(), QStringList());
        return;
    }
    QVERIFY(QFileInfo(installed).isExecutable());
    QCOMPARE(Box::commandLog(), QStringList({ "mount -o remount,rw /boot", "mount -o remount,ro /boot", "reboot -f" }));
    qInfo("reboot %lld ms after the success notice", m_rebootDelayMs);
    QVERIFY(m_rebootDelayMs >= 1990);  // the notice needs time to show
}

void TestUpdater::bootConfigGetsOnlyMissingLines_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("appended");
    const QByteArray audio = "\n# Audio config\naudio_pwm_mode=2";
    const QByteArray group = "\n# HDMI config\nhdmi_group=1";
    const QByteArray mode = "\n# HDMI config\nhdmi_mode=16";
    QTest::newRow("all present") << QByteArray("hdmi_mode=16\r\naudio_pwm_mode=2 # pwm\nhdmi_group=1") << QByteArray();
    QTest::newRow("only audio") << QByteArray("gpu_mem=128\naudio_pwm_mode=2\n") << "\n\n" + banner + group + mode + "\n\n" + banner;
    QTest::newRow("commented mode") << QByteArray("audio_pwm_mode=2\nhdmi_group=1\n#hdmi_mode=16\n") << "\n\n" + banner + mode + "\n\n" + banner;
    QTest::newRow("indented audio") << QByteArray(" audio_pwm_mode=2\nhdmi_group=1\nhdmi_mode=16") << "\n\n" + banner + audio + "\n\n" + banner;
    QTest::newRow("empty file") << QByteArray() << "\n\n" + banner + audio + group + mode + "\n\n" + banner;
}

void TestUpdater::bootConfigGetsOnlyMissingLines()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, appended);
    DeviceFiles::writeFile(QString::fromLatin1(Updater::bootConfigPath), config);
    Updater updater;
    for (int pass = 0; pass < 2; ++pass) {  // the second pass finds everything and appends nothing
        QVERIFY(updater.checkConfigFile());
        QCOMPARE(DeviceFiles::readFile(QString::fromLatin1(Updater::bootConfigPath)), config + appended);
    }
}

void TestUpdater::networkMarkerSwitchesToDhcpAndDefersUpdate()
{
    DeviceFiles::writeSettings({ { "NET_MODE", "static" }, { "NET_IP", "10.1.2.3" } });
    DeviceFiles::writeStickFile(QStringLiteral("resetnetwork.txt"), "anything");
    DeviceFiles::writeStickFile(QStringLiteral("quorvant"), newProgram());
    DeviceFiles::writeStickFile(QStringLiteral("quorvant.md5"), md5sumLine(stick + "quorvant"));

    QCOMPARE(runAndCollectTitles(QStringLiteral("none expected")), QStringList());
    QVERIFY(!QFile::exists(stick + "resetnetwork.txt"));
    QCOMPARE(QSettings("/cfg/settings.cfg", QSettings::IniFormat).value("NET_MODE").toString(), "dhcp");
    QCOMPARE(DeviceFiles::readFile(QStringLiteral("/cfg/eth0")), QByteArray("auto eth0\niface eth0 inet dhcp\n"));
    QVERIFY(QFile::exists(stick + "quorvant"));
    QCOMPARE(DeviceFiles::readFile(installed), oldProgram);
    QCOMPARE(Box::commandLog(), QStringList());
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
    runReal("mount", { "-t", "tmpfs", "-o", "size=64k", "tinycfg", "/cfg" });
    const auto unmount = qScopeGuard([] { runReal("umount", { "/cfg" }); });
    DeviceFiles::writeFile(installed, oldProgram);
    if (readOnly)
        runReal("mount", { "-o", "remount,ro", "/cfg" });
    const QByteArray program = newProgram(readOnly ? 3000 : 256 * 1024);
    DeviceFiles::writeStickFile(QStringLiteral("quorvant"), program);
    DeviceFiles::writeStickFile(QStringLiteral("quorvant.md5"), md5sumLine(stick + "quorvant"));

    QCOMPARE(runAndCollectTitles("Update error"), QStringList({ "Update", "Data verified", "Update error" }));
    QCOMPARE(DeviceFiles::readFile(installed), oldProgram);
    QCOMPARE(QDir("/cfg").entryList(QDir::Files | QDir::Hidden), QStringList{ "quorvant" });
    QCOMPARE(DeviceFiles::readFile(stick + "quorvant"), program);
    QVERIFY(QFile::exists(stick + "quorvant.md5"));
    QCOMPARE(Box::commandLog(), QStringList());
}

QUORVANT_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"
