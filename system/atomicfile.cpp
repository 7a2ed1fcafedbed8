#include "system/atomicfile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

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

bool commitSettings(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qDebug() << "Cannot write" << path << settings.status();
        return false;
    }
    if (syncToDisk(path))
        return true;
    qDebug() << "Cannot put" << path << "on the disk:" << std::strerror(errno);
    return false;
}

bool storeSettings(const QString &path, const QVariantMap &values)
{
    QSettings settings(path, QSettings::IniFormat);
    QVariantMap before;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        before.insert(it.key(), settings.value(it.key()));
        settings.setValue(it.key(), it.value());
    }
    if (commitSettings(path))
        return true;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.value().isValid())
            settings.setValue(it.key(), it.value());
        else
            settings.remove(it.key());
    }
    return false;
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
