#include "tests/support/testmain.h"

#include <QUdpSocket>

// The trial of a program installed from a stick, through the service's two scripts the way the
// service runs them: seed-cfg before each start, confirm-start after it with the daemon's pid.

namespace {
const QString packaging = QStringLiteral(QUORVANT_SOURCE_DIR "/packaging");
const QByteArray packagedProgram = "#!/bin/sh\n# packaged\nexec sleep 60\n";
const QByteArray previousProgram = "#!/bin/sh\n# previous\nexec sleep 60\n";
const QByteArray none = "none";

QByteArray readOrNone(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : none;
}

void writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    DeviceFiles::writeFile(path, bytes);
    if (executable)
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

quint16 freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::AnyIPv4));
    return socket.localPort();
}
} // namespace

class TestUpdateTrial : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> m_cfg;
    quint16 m_port = 0;

    QString cfg(const QString &name) const { return m_cfg->filePath(name); }

    int runSeed()
    {
        return QProcess::execute(packaging + "/seed-cfg", { cfg("packaged"), m_cfg->path() });
    }

    // One start as the service makes it: seed-cfg, the program, confirm-start; the program is
    // stopped again whatever came of it. True when the start counted as one that came up.
    bool start(int boundSeconds)
    {
        runSeed();
        QProcess program;
        program.start(cfg("quorvant"), QStringList());
        if (!program.waitForStarted(5000))
            return false;
        QProcess confirm;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("MAINPID", QString::number(program.processId()));
        confirm.setProcessEnvironment(environment);
        confirm.start(packaging + "/confirm-start", { m_cfg->path(), QString::number(m_port), QString::number(boundSeconds) });
        const bool cameUp = confirm.waitForFinished(-1) && confirm.exitCode() == 0;
        program.kill();
        program.waitForFinished();
        return cameUp;
    }

private slots:
    // Just after an update: the new program in place on trial, the old one kept, the packaged one
    // different from both.
    void init()
    {
        m_cfg.reset(new QTemporaryDir);
        m_port = freeUdpPort();
        writeFile(cfg("packaged"), packagedProgram, true);
        writeFile(cfg(".quorvant.previous"), previousProgram, true);
        writeFile(cfg(".quorvant.seeded"), md5Hex(previousProgram) + '\n');
        writeFile(cfg(".quorvant.trial"), "0\n");
        writeFile(cfg("eth0"), "auto eth0\niface eth0 inet dhcp\n");
    }

    void seedCfgCountsTheTries_data()
    {
        QTest::addColumn<QByteArray>("marker");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QByteArray>("program"); // in place afterwards
        QTest::addColumn<QByteArray>("markerAfter");
        const QByteArray updated = "#!/bin/sh\n# updated\n";
        QTest::newRow("third start") << QByteArray("2\n") << true << updated << QByteArray("3\n");
        QTest::newRow("fourth start: the kept program") << QByteArray("3\n") << true << previousProgram << none;
        QTest::newRow("fourth start, none kept: the packaged one") << QByteArray("3\n") << false << packagedProgram << none;
        QTest::newRow("unreadable count starts over") << QByteArray("x\n") << true << updated << QByteArray("1\n");
        QTest::newRow("a huge count falls back") << QByteArray("99999999999999999999") << true << previousProgram << none;
        QTest::newRow("no trial: a stick's program stays") << none << true << updated << none;
    }

    void seedCfgCountsTheTries()
    {
        QFETCH(QByteArray, marker);
        QFETCH(bool, kept);
        writeFile(cfg("quorvant"), "#!/bin/sh\n# updated\n", true);
        if (marker == none)
            QFile::remove(cfg(".quorvant.trial"));
        else
            writeFile(cfg(".quorvant.trial"), marker);
        if (!kept)
            QFile::remove(cfg(".quorvant.previous"));

        QCOMPARE(runSeed(), 0);
        QTEST(readOrNone(cfg("quorvant")), "program");
        QTEST(readOrNone(cfg(".quorvant.trial")), "markerAfter");
        QVERIFY(QFileInfo(cfg("quorvant")).isExecutable());
        QCOMPARE(readOrNone(cfg(".quorvant.seeded")).trimmed(), md5Hex(kept ? previousProgram : packagedProgram));
    }

    // Starts until one counts as having come up: the updated program itself, or the one put back
    // after its three failed starts.
    void serviceComesBackUp_data()
    {
        QTest::addColumn<QByteArray>("updated");
        QTest::addColumn<int>("starts");
        QTest::addColumn<bool>("fellBack");
        QTest::addColumn<int>("boundSeconds"); // only the failing starts wait it out
        QTest::newRow("exits at once") << QByteArray("#!/bin/sh\nexit 1\n") << 4 << true << 60;
        QTest::newRow("never listens") << QByteArray("#!/bin/sh\nexec sleep 60\n") << 4 << true << 2;
        QTest::newRow("listens elsewhere") << QByteArray("#!/bin/sh\nexec socat -u UDP-RECV:1 STDOUT\n") << 4 << true << 2;
        QTest::newRow("listens") << QByteArray("#!/bin/sh\nexec socat -u UDP-RECV:PORT STDOUT\n") << 1 << false << 60;
    }

    void serviceComesBackUp()
    {
        QFETCH(QByteArray, updated);
        QFETCH(int, boundSeconds);
        updated.replace("PORT", QByteArray::number(m_port));
        writeFile(cfg("quorvant"), updated, true);
        int starts = 1;
        while (!start(boundSeconds) && starts < 6)
            ++starts;
        QTEST(starts, "starts");
        QFETCH(bool, fellBack);
        QCOMPARE(readOrNone(cfg("quorvant")), fellBack ? previousProgram : updated);
        // Nothing is left on trial: the next update starts a fresh one.
        QCOMPARE(readOrNone(cfg(".quorvant.trial")), none);
        QCOMPARE(readOrNone(cfg(".quorvant.previous")), none);
    }
};

QUORVANT_TEST_MAIN(TestUpdateTrial)
#include "tst_updatetrial.moc"
