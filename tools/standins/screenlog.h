// What the television would show, one timestamped line per event: the format the stand-in
// television and the relay to the real media centre share, so the demo reads either the same way.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace ScreenLog {

void start();
void say(const QString &what, const QString &detail);
QString playerKind(int playerId);
// One request from the daemon; `raw` is shown when it did not parse.
void describeRequest(const QJsonObject &json, const QByteArray &raw);

} // namespace ScreenLog
