#include "tools/standins/devicefiles.h"

#include "tools/standins/box.h"

#include <QDir>
#include <QSettings>

#include <sys/mount.h>

namespace DeviceFiles {

void writeSettings(const QMap<QString, QVariant> &values)
{
    Box::requireBox();
    QSettings settings(QStringLiteral("/cfg/settings.cfg"), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

void writeStickFile(const QString &name, const QByteArray &bytes)
{
    writeFile(Box::stickPath() + '/' + name, bytes);
}

void clearStick()
{
    Box::requireBox();
    const QDir stick(Box::stickPath());
    for (const QFileInfo &entry : stick.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
}

bool unmountStick()
{
    Box::requireBox();
    return ::umount2(qPrintable(Box::stickPath()), MNT_DETACH) == 0;
}

bool mountStick()
{
    Box::requireBox();
    return ::mount("/dev/disk/zr605-stick", qPrintable(Box::stickPath()), "tmpfs", 0, "size=64m,mode=755") == 0;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    Box::requireBox();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void removeFile(const QString &path)
{
    Box::requireBox();
    QFile::remove(path);
}

} // namespace DeviceFiles
