#include "tests/support/fakemediacentre.h"

#include "tools/standins/box.h"

#include <algorithm>

void FakeMediaCentre::received(const Request &request)
{
    m_requests << request;
    m_requests.last().atNs = elapsedNs();
}

QList<FakeMediaCentre::Request> FakeMediaCentre::requests(const QString &method) const
{
    QList<Request> found;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(found), [&](const Request &r) { return r.method() == method; });
    return found;
}

QString FakeMediaCentre::line(const Request &r)
{
    const QJsonObject p = r.params();
    const QString m = r.method(), id = QString::number(p["playerid"].toInt());
    return m == "Player.Stop" ? "stop:" + id
        : m == "Player.Open" ? "open:" + p["item"]["file"].toString().remove(Box::stickPath() + "/")
        : m == "Player.PlayPause" ? (p["play"].toBool() ? "resume:" : "pause:") + id
        : m == "Application.SetVolume" ? "volume:" + QString::number(p["volume"].toInt())
        : m == "Player.GetActivePlayers" ? QString("active")
        : m == "GUI.ShowNotification" ? "note:" + p["title"].toString() + "|" + p["message"].toString()
        : "other:" + m;
}

QStringList FakeMediaCentre::lines() const
{
    QStringList out;
    for (const Request &request : m_requests)
        out << line(request);
    return out;
}
