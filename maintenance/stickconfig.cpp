#include "maintenance/stickconfig.h"

#include <QDebug>
#include <QFileInfo>

bool StickConfig::isReadable(const QString &path)
{
    const qint64 size = QFileInfo(path).size();
    if (size <= maxFileSize)
        return true;
    qDebug() << "Config file too large, treated as damaged:" << path << size << "bytes";
    return false;
}
