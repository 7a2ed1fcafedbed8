// Finding the stick among the mounted volumes by its exact label.

#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "maintenance/playerusbstickmanager.h"
#include "tests/support/testmain.h"
#include "tools/standins/devicefiles.h"

namespace {

bool labelStick(const QByteArray &label, const QByteArray &target = "../zr605-stick")
{
    ::unlink("/dev/disk/by-label/ZR605");
    ::unlink("/dev/disk/by-label/zr605");
    return ::symlink(target.constData(), ("/dev/disk/by-label/" + label).constData()) == 0;
}

} // namespace

class TestUsbStick : public QObject
{
    Q_OBJECT

    PlayerUsbStickManager *m_watcher = PlayerUsbStickManager::getInstance();

private slots:
    void cleanup()
    {
        ::umount("/media/rootdev");
        ::unlink("/overlay");
        labelStick("ZR605");
    }

    void stickIsFoundByExactLabelOnly_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("path");
        QTest::newRow("labelled ZR605") << "" << "/media/ZR605";
        QTest::newRow("lower-case label") << "lower" << "";
        QTest::newRow("volume on the root device") << "root" << "";
    }

    void stickIsFoundByExactLabelOnly()
    {
        QFETCH(QString, setup);
        QFETCH(QString, path);
        if (setup == "lower") {
            QVERIFY(labelStick("zr605"));
        } else if (setup == "root") {
            // The root file system's device ("overlay", resolved from /) carries the label and a
            // volume on that device is mounted: it is not the stick.
            QVERIFY(QDir::setCurrent("/") && ::mkfifo("/overlay", 0644) == 0 && labelStick("ZR605", "/overlay"));
            QVERIFY(QDir().mkpath("/media/rootdev") && ::mount("overlay", "/media/rootdev", "tmpfs", 0, "size=64k") == 0);
            QCOMPARE(QStorageInfo("/media/rootdev").name(), QString("ZR605"));
        }
        QCOMPARE(m_watcher->findUsbStick(), !path.isEmpty());
        QCOMPARE(m_watcher->usbStickPath(), path);
    }
};

QUORVANT_TEST_MAIN(TestUsbStick)
#include "tst_usbstick.moc"
