// Puts the files the device reads in place: the settings in /cfg and the files on the stick.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

namespace DeviceFiles {

// Writes the keys into /cfg/settings.cfg through QSettings, so an in-process reader sees them too.
void writeSettings(const QMap<QString, QVariant> &values);
// Writes `name` (a path relative to the stick root; folders are made) with `bytes`.
void writeStickFile(const QString &name, const QByteArray &bytes = QByteArray());
inline void writeStickConfig(const QByteArray &ini) { writeStickFile(QStringLiteral("config.ini"), ini); }
// Empties the stick without unmounting it.
void clearStick();
// Pulls the stick (unmounts it) and plugs an empty one in again at the same place, as the device's
// mount rule would; false when the kernel refused.
bool unmountStick();
bool mountStick();
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
void removeFile(const QString &path);

} // namespace DeviceFiles
