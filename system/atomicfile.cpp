#include "system/atomicfile.h"

#include <QDebug>
#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

bool fail(const QSaveFile &file, QString *errorString)
{
    if (errorString)
        *errorString = file.errorString();
    return false;
}

// Drops the temporary file; the old file stays as it was.
bool abandon(QSaveFile &file, QString *errorString)
{
    fail(file, errorString);
    file.cancelWriting();
    file.commit(); // removes the temporary file
    return false;
}

bool commitAndSync(QSaveFile &file, QString *errorString)
{
    // A write error that only shows when the buffer is flushed (a full disk) is not noticed by
    // QSaveFile::commit, which would rename the short file into place: flush first and check.
    if (!file.flush())
        return abandon(file, errorString);
    if (!file.commit())
        return fail(file, errorString);
    if (syncToDisk(file.fileName()))
        return true;
    if (errorString)
        *errorString = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool fsyncPath(const QByteArray &path, int flags)
{
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

// QSettings replaces its file through QSaveFile, whose commit misses a flush that fails on a full
// disk: it renames the short (empty) file into place and reports success, and the settings beside
// the one changed are gone. So QSettings lays the file out in a scratch folder off /cfg, and write()
// puts it in place, which sees the failure and keeps the old file.
bool iniContent(const QSettings &stored, const QVariantMap &values, QByteArray *content)
{
    const QTemporaryDir scratch;
    if (!scratch.isValid()) {
        qDebug() << "No scratch folder for the settings:" << scratch.errorString();
        return false;
    }
    const QString scratchPath = scratch.filePath(QStringLiteral("settings.ini"));
    {
        QSettings laidOut(scratchPath, QSettings::IniFormat);
        const QStringList keys = stored.allKeys();
        for (const QString &key : keys)
            laidOut.setValue(key, stored.value(key));
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            laidOut.setValue(it.key(), it.value());
        laidOut.sync();
        if (laidOut.status() != QSettings::NoError)
            return false;
    }
    QFile file(scratchPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return true;
}

// Every QSettings on the file shares one cache, which it reads again only when the file's size or
// time (to the millisecond) changed: a rewrite of the same size within that millisecond is moved on
// by one, then a fresh object reads it in for all of them.
void rereadSettings(const QString &path, const QDateTime &before)
{
    QFile file(path);
    if (QFileInfo(path).lastModified() == before && file.open(QIODevice::ReadWrite))
        file.setFileTime(before.addMSecs(1), QFileDevice::FileModificationTime);
    file.close();
    QSettings(path, QSettings::IniFormat).sync();
}

} // namespace

bool write(const QString &path, const QByteArray &content, QString *errorString)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file, errorString);
    if (file.write(content) != content.size())
        return abandon(file, errorString);
    return commitAndSync(file, errorString);
}

bool copy(const QString &source, const QString &target, QString *errorString)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) {
        if (errorString)
            *errorString = input.errorString();
        return false;
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file, errorString);
    while (!input.atEnd()) {
        const QByteArray chunk = input.read(64 * 1024);
        if (chunk.isEmpty() || file.write(chunk) != chunk.size())
            return abandon(file, errorString);
    }
    return commitAndSync(file, errorString);
}

bool storeSettings(const QString &path, const QVariantMap &values)
{
    const QSettings stored(path, QSettings::IniFormat);
    QByteArray content;
    if (!iniContent(stored, values, &content))
        return false;
    const QDateTime before = QFileInfo(path).lastModified();
    QString error;
    if (!write(path, content, &error)) {
        qDebug() << "Cannot write" << path << error;
        return false;
    }
    rereadSettings(path, before);
    return true;
}

bool syncToDisk(const QString &path)
{
    const QFileInfo info(path);
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    // The file's own data first (QSaveFile syncs it, QSettings may not); a removed file has none.
    if (info.exists() && !fsyncPath(file, O_RDONLY))
        return false;
    return fsyncPath(QFile::encodeName(info.absolutePath()), O_RDONLY | O_DIRECTORY);
}

} // namespace AtomicFile
