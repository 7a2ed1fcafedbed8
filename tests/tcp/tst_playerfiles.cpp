#include "maintenance/playerfiles.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestPlayerFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void listNamesTracksThenConfig_data();
    void listNamesTracksThenConfig();
    void clearingDeletesEveryListedFile();
    void clearingStopsAtFirstFileThatCannotGo_data();
    void clearingStopsAtFirstFileThatCannotGo();
    void entriesLeavingTheStickAreNeverDeleted_data();
    void entriesLeavingTheStickAreNeverDeleted();

private:
    static QString onStick(const QString &name) { return Box::stickPath() + '/' + name; }
    PlayerFiles m_files;
};

void TestPlayerFiles::init()
{
    DeviceFiles::clearStick();
}

void TestPlayerFiles::listNamesTracksThenConfig_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("second entry empty")
        << QByteArray("[playlist]\n1\\track=one.mp4\n2\\track=Empty\n3\\track=three.jpg\nsize=3\n")
        << QStringList{"/media/ZR605/one.mp4", "/media/ZR605/three.jpg", "/media/ZR605/config.ini"};
    QTest::newRow("entry without track") << QByteArray("[playlist]\n1\\volume=3\n2\\track=b.mp3\nsize=2\n")
                                         << QStringList{"/media/ZR605/b.mp3", "/media/ZR605/config.ini"};
    QTest::newRow("size 0") << QByteArray("[playlist]\n1\\track=x.mp4\nsize=0\n") << QStringList{"/media/ZR605/config.ini"};
    QTest::newRow("no config") << QByteArray() << QStringList{"/media/ZR605/config.ini"};
    QTest::newRow("huge size") << QByteArray("[playlist]\n1\\track=x.mp4\nsize=2000000000\n")
                               << QStringList{"/media/ZR605/x.mp4", "/media/ZR605/config.ini"};
}

void TestPlayerFiles::listNamesTracksThenConfig()
{
    QFETCH(QByteArray, config);
    QFETCH(QStringList, files);
    if (!config.isEmpty())
        DeviceFiles::writeStickConfig(config);
    QCOMPARE(m_files.extractFileListFrom("/media/ZR605/"), files);
}

void TestPlayerFiles::clearingDeletesEveryListedFile()
{
    DeviceFiles::writeStickConfig("[playlist]\n1\\track=a.mp4\n2\\track=sub/b.mp3\nsize=2\n");
    DeviceFiles::writeStickFile("a.mp4");
    DeviceFiles::writeStickFile("sub/b.mp3");
    DeviceFiles::writeStickFile("keep.txt");
    QVERIFY(m_files.clearConfiguration());
    QVERIFY(!QFile::exists(onStick("a.mp4")));
    QVERIFY(!QFile::exists(onStick("sub/b.mp3")));
    QVERIFY(!QFile::exists(onStick("config.ini")));
    QVERIFY(QFile::exists(onStick("keep.txt")));
}

void TestPlayerFiles::clearingStopsAtFirstFileThatCannotGo_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("remaining");
    QTest::newRow("first missing") << QStringList{"b.mp4", "c.mp4"} << QStringList{"b.mp4", "c.mp4", "config.ini"};
    QTest::newRow("second missing") << QStringList{"a.mp4", "c.mp4"} << QStringList{"c.mp4", "config.ini"};
    QTest::newRow("last missing") << QStringList{"a.mp4", "b.mp4"} << QStringList{"config.ini"};
}

void TestPlayerFiles::clearingStopsAtFirstFileThatCannotGo()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, remaining);
    DeviceFiles::writeStickConfig("[playlist]\n1\\track=a.mp4\n2\\track=b.mp4\n3\\track=c.mp4\nsize=3\n");
    for (const QString &name : present)
        DeviceFiles::writeStickFile(name);
    QVERIFY(!m_files.clearConfiguration());
    QStringList left = QDir(Box::stickPath()).entryList(QDir::Files);
    left.sort();
    QCOMPARE(left, remaining);
}

void TestPlayerFiles::entriesLeavingTheStickAreNeverDeleted_data()
{
    QTest::addColumn<QString>("track");
    QTest::addColumn<QString>("victim");
    QTest::newRow("absolute") << "/tmp/victim" << "/tmp/victim";
    QTest::newRow("climbs out") << "../../tmp/victim" << "/tmp/victim";
    QTest::newRow("climbs out midway") << "sub/../../../tmp/victim" << "/tmp/victim";
    QTest::newRow("through a link") << "outside/victim" << "/tmp/victim";
}

void TestPlayerFiles::entriesLeavingTheStickAreNeverDeleted()
{
    QFETCH(QString, track);
    QFETCH(QString, victim);
    DeviceFiles::writeFile(victim, "precious");
    QVERIFY(QFile::link("/tmp", onStick("outside")));
    DeviceFiles::writeStickFile("sub/x");
    DeviceFiles::writeStickConfig(QStringLiteral("[playlist]\n1\\track=%1\n2\\track=after.mp4\nsize=2\n").arg(track).toUtf8());
    DeviceFiles::writeStickFile("after.mp4");
    // Still listed as named, so the tool sees what the playlist says.
    QCOMPARE(m_files.extractFileListFrom("/media/ZR605/").first(), "/media/ZR605/" + track);
    QVERIFY(!m_files.clearConfiguration());
    QCOMPARE(DeviceFiles::readFile(victim), QByteArray("precious"));
    QVERIFY(QFile::exists(onStick("after.mp4")));
    QVERIFY(QFile::exists(onStick("config.ini")));
}

QUORVANT_TEST_MAIN(TestPlayerFiles)
#include "tst_playerfiles.moc"
