// A change the box acknowledged survives a power cut right after the acknowledgement. /cfg is an
// ext4 file system in an image file on a loop device, mounted as on the device (rw,noatime, the
// default 5 s journal commit). The loop device writes into the image file what the file system
// sends to its disk, and nothing else: a copy of the image taken the moment quorvant-ctl reports
// the acknowledgement is the disk as a power cut at that moment leaves it. The copy then goes
// through what a boot does (fsck replays the journal, mount), the daemon starts on it, and the
// tool must read back the new value.

#include "tests/support/ctlprocess.h"
#include "tests/support/testmain.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QString host = QStringLiteral("192.168.77.2");
const QString image = QStringLiteral("/tmp/cfg.img");
const QString cutImage = QStringLiteral("/tmp/cfg-at-cut.img");
const QByteArray before = "[General]\nNAME=Before\nSN=12345678\nNET_MODE=static\nNET_IP=192.168.77.2\n"
                          "NET_MASK=255.255.255.0\nNET_ROUTE=192.168.77.1\n";
const QByteArray beforeInterface = "auto eth0\niface eth0 inet static\naddress 192.168.77.2\n"
                                   "netmask 255.255.255.0\ngateway 192.168.77.1\ndns-nameservers 192.168.77.1\n";

// The box's /dev holds no block devices: the nodes are made as needed.
bool makeNode(const QByteArray &path, mode_t type, unsigned major, unsigned minor)
{
    struct stat st;
    if (::stat(path.constData(), &st) == 0)
        return true;
    return ::mknod(path.constData(), type | 0600, makedev(major, minor)) == 0;
}

// Attaches `file` to a free loop device that goes away with its last user; returns the device's
// path and its open descriptor (-1 on failure), which must stay open until the device is mounted.
int attachLoop(const QString &file, QByteArray *path)
{
    if (!makeNode("/dev/loop-control", S_IFCHR, 10, 237))
        return -1;
    const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    const int backing = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CLOEXEC);
    int attached = -1;
    // Other users of the machine may take the device found free before we bind it: try again.
    for (int attempt = 0; attempt < 20 && control >= 0 && backing >= 0 && attached < 0; ++attempt) {
        const int number = ::ioctl(control, LOOP_CTL_GET_FREE);
        const QByteArray device = "/dev/loop" + QByteArray::number(number);
        if (number < 0 || !makeNode(device, S_IFBLK, 7, unsigned(number)))
            break;
        const int fd = ::open(device.constData(), O_RDWR | O_CLOEXEC);
        // File and flags in one step, where the kernel offers it.
        loop_config config = {};
        config.fd = quint32(backing);
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        // Older kernels and user-mode emulators know only the two-step form.
        const auto bind = [&] {
            if (::ioctl(fd, LOOP_CONFIGURE, &config) == 0)
                return true;
            if (errno == EBUSY || ::ioctl(fd, LOOP_SET_FD, backing) != 0)
                return false;
            if (::ioctl(fd, LOOP_SET_STATUS64, &config.info) == 0)
                return true;
            ::ioctl(fd, LOOP_CLR_FD, 0);
            return false;
        };
        if (fd >= 0 && bind()) {
            attached = fd;
            *path = device;
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    if (control >= 0)
        ::close(control);
    if (backing >= 0)
        ::close(backing);
    return attached;
}

bool mountImage(const QString &file)
{
    QByteArray device;
    const int fd = attachLoop(file, &device);
    if (fd < 0) {
        qWarning("no loop device: %s", strerror(errno));
        return false;
    }
    // From here the mount holds the device; the kernel detaches it at the unmount (autoclear).
    const bool mounted = ::mount(device.constData(), "/cfg", "ext4", MS_NOATIME, nullptr) == 0;
    if (!mounted)
        qWarning("cannot mount %s: %s", device.constData(), strerror(errno));
    ::close(fd);
    return mounted;
}

int run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForFinished(60000);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// quorvant-ctl --json on the tool host; the value of `key` in its answer (discover: the one box).
QString ctlValue(const QStringList &arguments, const QString &key)
{
    const QJsonDocument json = CtlProcess::run(arguments + QStringList{"--json"}).json();
    return (json.isArray() ? json.array().at(0) : QJsonValue(json.object()))[key].toVariant().toString();
}

} // namespace

class TestPowerCut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_centre.listen());
        DeviceFiles::writeFile("/forcefsck", {});
    }

    void cleanup()
    {
        m_daemon.kill();
        ::umount("/cfg");
    }

    void acknowledgedChangeSurvives_data()
    {
        QTest::addColumn<QStringList>("change");
        QTest::addColumn<QStringList>("stored");   // settings key and value in the file after the cut
        QTest::addColumn<QStringList>("readBack"); // tool arguments after the boot, then key and value
        QTest::newRow("serial") << QStringList{"set-serial", host, "87654321"} << QStringList{"SN", "87654321"}
                                << QStringList{"discover", "serial", "87654321"};
        QTest::newRow("name") << QStringList{"device", host, "--password", "12345678", "--channel", "5", "--name", "After"}
                              << QStringList{"NAME", "After"} << QStringList{"discover", "name", "After"};
        // The start-up would take the network settings from the interface file, which the box syncs
        // before it answers; the settings file itself must hold them too.
        QTest::newRow("network") << QStringList{"network", host, "--password", "12345678", "--address", host,
                                                "--prefix", "16", "--gateway", "192.168.77.254"}
                                 << QStringList{"NET_ROUTE", "192.168.77.254"}
                                 << QStringList{"network " + host + " --password 12345678", "gateway", "192.168.77.254"};
    }

    void acknowledgedChangeSurvives()
    {
        QFETCH(QStringList, change);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, readBack);
        QVERIFY(makeCfg());
        QVERIFY(startDaemon());
        // Start-up's own writes are on the disk and the journal's commit timer starts with the
        // change, so only the daemon's own syncs can put the change there within the next 5 s.
        ::sync();

        QByteArray disk;
        qint64 copyMs = -1;
        const CtlProcess::Result tool = CtlProcess::run(change, 30000, [&] {
            QElapsedTimer copying;
            copying.start();
            disk = DeviceFiles::readFile(image); // the power cut
            copyMs = copying.elapsed();
        });
        QVERIFY2(tool.exitCode == 0, tool.err.constData());
        QVERIFY(!disk.isEmpty());
        qInfo("the image copy took %lld ms", copyMs);

        // The box is gone; what boots is the copy.
        cleanup();
        DeviceFiles::writeFile(cutImage, disk);
        const int check = run("e2fsck", {"-p", cutImage});
        QVERIFY2(check == 0 || check == 1, qPrintable(QString("e2fsck exit %1").arg(check)));
        QVERIFY(mountImage(cutImage));
        QCOMPARE(QSettings("/cfg/settings.cfg", QSettings::IniFormat).value(stored.at(0)).toString(), stored.at(1));
        QVERIFY(startDaemon());
        const QStringList arguments = readBack.at(0).split(' ');
        QCOMPARE(ctlValue(arguments, readBack.at(1)), readBack.at(2));
    }

private:
    // A fresh file system holding the settings from before the change, the interface file and the
    // password (MD5 of the serial number).
    bool makeCfg()
    {
        QFile::remove(image);
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(16 * 1024 * 1024))
            return false;
        file.close();
        if (run("mkfs.ext4", {"-q", "-F", image}) != 0 || !mountImage(image))
            return false;
        DeviceFiles::writeFile("/cfg/settings.cfg", before);
        DeviceFiles::writeFile("/cfg/eth0", beforeInterface);
        DeviceFiles::writeFile("/cfg/.zr605_password.txt", "25d55ad283aa400af464c76d713c07ad");
        ::sync();
        return true;
    }

    bool startDaemon()
    {
        return m_daemon.start()
            && QTest::qWaitFor([] { return !ctlValue({"discover", "--timeout", "300"}, "serial").isEmpty(); }, 20000);
    }

    FakeMediaCentre m_centre;
    DaemonProcess m_daemon;
};

QUORVANT_TEST_MAIN(TestPowerCut)
#include "tst_powercut.moc"
