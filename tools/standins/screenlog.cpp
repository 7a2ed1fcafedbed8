#include "tools/standins/screenlog.h"

#include <QElapsedTimer>

#include <cstdio>

namespace ScreenLog {

namespace {
QElapsedTimer clock;
}

void start()
{
    clock.start();
}

void say(const QString &what, const QString &detail)
{
    std::printf("[%8.3f] %-8s %s\n", clock.elapsed() / 1000.0, qPrintable(what), qPrintable(detail));
    std::fflush(stdout);
}

QString playerKind(int playerId)
{
    return playerId == 2 ? "picture" : playerId == 0 ? "audio" : "video";
}

void describeRequest(const QJsonObject &json, const QByteArray &raw)
{
    const QJsonObject p = json["params"].toObject();
    const QString method = json["method"].toString();
    if (json.isEmpty())
        say("garbled", QString::fromUtf8(raw.left(200)));
    else if (method == "GUI.ShowNotification")
        say("notice", QString("%1: %2  (%3 ms)").arg(p["title"].toString(), p["message"].toString()).arg(p["displaytime"].toInt()));
    else if (method == "Player.Open")
        say("open", p["item"]["file"].toString());
    else if (method == "Player.PlayPause")
        say(p["play"].toBool() ? "resume" : "pause", "player " + QString::number(p["playerid"].toInt()));
    else if (method == "Player.Stop")
        say("stop", "player " + QString::number(p["playerid"].toInt()));
    else if (method == "Application.SetVolume")
        say("volume", QString::number(p["volume"].toInt()));
    else
        say("request", method);
}

} // namespace ScreenLog
