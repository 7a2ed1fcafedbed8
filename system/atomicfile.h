#pragma once

// Replaces a file as a whole: the new content goes to a temporary file beside it, is flushed to
// disk and renamed over the old one, so a failure or power cut never leaves it empty or cut short.
// A change is on the disk once the rename is too: that takes a sync of the folder, without which
// ext4 keeps the new name in memory until its next journal commit (5 s) and a power cut before
// then brings the old file back. Every write a peer is told succeeded ends here.

#include <QByteArray>
#include <QString>

#include <QVariantMap>

namespace AtomicFile {

// True when the file now holds exactly `content`, on the disk. False leaves the old file untouched,
// except when only the final sync failed (an I/O error): the new file is then in place, maybe not
// on the disk.
bool write(const QString &path, const QByteArray &content, QString *errorString = nullptr);

// Replaces `target` by a copy of `source`, read in pieces; as write().
bool copy(const QString &source, const QString &target, QString *errorString = nullptr);

// Replaces the INI file at `path` by its stored settings with `values` set, as write() does, and
// lets every QSettings on it read the result. When that fails the file and what they read stay as
// before, so nothing announces a value that is not stored. The daemon's settings change only here.
bool storeSettings(const QString &path, const QVariantMap &values);

// Puts the file (when there is one) and the entry that names it in its folder on the disk: after
// a rename into place, and after a file was created or removed.
bool syncToDisk(const QString &path);

} // namespace AtomicFile
