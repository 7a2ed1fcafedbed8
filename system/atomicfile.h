#pragma once

// Replaces a file as a whole: the new content goes to a temporary file beside it, is flushed to
// disk and renamed over the old one, so a failure or power cut never leaves it empty or cut short.

#include <QByteArray>
#include <QString>

namespace AtomicFile {

// True when the file now holds exactly `content`; false leaves the old file untouched.
bool write(const QString &path, const QByteArray &content, QString *errorString = nullptr);

} // namespace AtomicFile
