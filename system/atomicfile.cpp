#include "system/atomicfile.h"

#include <QSaveFile>

namespace AtomicFile {

namespace {

bool fail(const QSaveFile &file, QString *errorString)
{
    if (errorString)
        *errorString = file.errorString();
    return false;
}

} // namespace

bool write(const QString &path, const QByteArray &content, QString *errorString)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file, errorString);
    // QSaveFile::commit does not notice a write error that only shows when its buffer is flushed
    // (a full disk) and would rename the short file into place: flush first and check.
    if (file.write(content) != content.size() || !file.flush()) {
        fail(file, errorString);
        file.cancelWriting();
        file.commit(); // removes the temporary file
        return false;
    }
    if (!file.commit())
        return fail(file, errorString);
    return true;
}

} // namespace AtomicFile
