#include "maintenance/playerfiles.h"

#include "maintenance/stickconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString stickRoot = QStringLiteral("/media/ZR605/");
const QString emptyTrack = QStringLiteral("Empty");
// A damaged or hostile playlist size must not make us walk millions of entries.
constexpr int maxPlaylistSize = 65536;

bool isWithin(const QString &path, const QString &directory)
{
    return path == directory || path.startsWith(directory + QLatin1Char('/'));
}

} // namespace

PlayerFiles::PlayerFiles(QObject *parent) : QObject(parent) {}

QStringList PlayerFiles::extractFileListFrom(const QString &path) const
{
    const QString configPath = QStringLiteral("%1config.ini").arg(path);
    QStringList files;
    // A file too large to read lists no tracks, only itself.
    QSettings config(StickConfig::isReadable(configPath) ? configPath : QString(), QSettings::IniFormat);
    if (config.status() == QSettings::NoError) {
        const int size = qMin(config.beginReadArray(QStringLiteral("playlist")), maxPlaylistSize);
        for (int i = 0; i < size; ++i) {
            config.setArrayIndex(i);
            const QString track = config.value(QStringLiteral("track"), emptyTrack).toString();
            if (track != emptyTrack)
                files.append(path + track);
        }
        config.endArray();
    }
    files.append(configPath);
    return files;
}

// A playlist entry is a path relative to the stick root (an absolute one is appended to the root as
// well, so it names a file on the stick); one that climbs out of the root, by ".." or through a link
// to a folder elsewhere, must never lead to a deletion there.
bool PlayerFiles::isInsideRoot(const QString &root, const QString &path)
{
    if (!path.startsWith(root))
        return false;
    const QString relative = path.mid(root.size());
    if (relative.isEmpty())
        return false;
    const QString cleanRoot = QDir::cleanPath(root);
    const QString cleanPath = QDir::cleanPath(path);
    if (cleanPath == cleanRoot || !isWithin(cleanPath, cleanRoot))
        return false;
    const QString realRoot = QFileInfo(cleanRoot).canonicalFilePath();
    const QString realParent = QFileInfo(QFileInfo(cleanPath).path()).canonicalFilePath();
    return !realRoot.isEmpty() && !realParent.isEmpty() && isWithin(realParent, realRoot);
}

bool PlayerFiles::clearConfiguration() const
{
    const QStringList files = extractFileListFrom(stickRoot);
    for (const QString &file : files) {
        if (!isInsideRoot(stickRoot, file) || !QFile::remove(file))
            return false;
    }
    return true;
}
