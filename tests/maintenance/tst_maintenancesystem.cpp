// The real daemon with an update on the stick: the updater's notices, handed from the player's
// worker thread, reach the television. The install itself is proven by the ctl system test.

#include "tests/support/fakemediacentre.h"
#include "tests/support/testmain.h"
#include "tools/standins/daemonprocess.h"
#include "tools/standins/devicefiles.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest/QtTest>

class TestMaintenanceSystem : public QObject
{
    Q_OBJECT
private slots:
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

QUORVANT_TEST_MAIN(TestMaintenanceSystem)
#include "tst_maintenancesystem.moc"
