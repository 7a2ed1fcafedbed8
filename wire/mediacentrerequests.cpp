#include "wire/mediacentrerequests.h"

#include <QJsonArray>

// The spacing inside the templates differs from request to request; it is kept
// exactly so that the bytes on the wire stay what the media centre was tested with.
namespace {
const char notificationTemplate[] =
    R"({"jsonrpc":"2.0","method":"GUI.ShowNotification","params":{"title":"%1","message":"%2", "displaytime": %3},"id":1})";
const char volumeTemplate[] =
    R"({"jsonrpc": "2.0", "method": "Application.SetVolume", "params": {"volume": %1}, "id": 1})";
const char pauseTemplate[] =
    R"({"jsonrpc":"2.0","method":"Player.PlayPause","params":{"playerid":%1,"play":false},"id":1})";
const char resumeTemplate[] =
    R"({"jsonrpc":"2.0","method":"Player.PlayPause","params":{"playerid":%1,"play":true},"id":1})";
const char stopTemplate[] =
    R"({"jsonrpc": "2.0", "method": "Player.Stop", "params": { "playerid": %1 }, "id": 1})";
const char activePlayersTemplate[] =
    R"({"jsonrpc":"2.0","method":"Player.GetActivePlayers","id":"active-%1"})";
const char openTemplate[] =
    R"({"jsonrpc":"2.0","id":"1","method":"Player.Open","params":{"item":{"file":"%1"}}})";
}

QString MediaCentreRequests::notification(const QString &title, const QString &message, int displayTimeMs)
{
    // The media centre refuses the whole notice ("Invalid params") below its shortest display time.
    const int displayTime = qMax(displayTimeMs, shortestDisplayTimeMs);
    // One multi-argument arg() call, so a "%2" inside the title is not substituted again.
    return QString::fromLatin1(notificationTemplate)
        .arg(escaped(title), escaped(message), QString::number(displayTime));
}

QString MediaCentreRequests::volume(int volume)
{
    return QString::fromLatin1(volumeTemplate).arg(volume);
}

QString MediaCentreRequests::pause(int playerId)
{
    return QString::fromLatin1(pauseTemplate).arg(playerId);
}

QString MediaCentreRequests::resume(int playerId)
{
    return QString::fromLatin1(resumeTemplate).arg(playerId);
}

QString MediaCentreRequests::stop(int playerId)
{
    return QString::fromLatin1(stopTemplate).arg(playerId);
}

QString MediaCentreRequests::open(const QString &path)
{
    return QString::fromLatin1(openTemplate).arg(escaped(path));
}

bool MediaCentreRequests::isOpenRefusal(const QJsonObject &reply)
{
    return reply.contains(QStringLiteral("error")) && reply.value(QStringLiteral("id")) == QJsonValue(QStringLiteral("1"));
}

QString MediaCentreRequests::activePlayers(int serial)
{
    return QString::fromLatin1(activePlayersTemplate).arg(serial);
}

bool MediaCentreRequests::listsNoActivePlayer(const QJsonObject &reply, int serial)
{
    const QJsonValue result = reply.value(QStringLiteral("result"));
    return reply.value(QStringLiteral("id")) == QJsonValue(QStringLiteral("active-%1").arg(serial))
        && result.isArray() && result.toArray().isEmpty();
}

QString MediaCentreRequests::escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': out += QLatin1String("\\\""); break;
        case '\\': out += QLatin1String("\\\\"); break;
        case '\b': out += QLatin1String("\\b"); break;
        case '\f': out += QLatin1String("\\f"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}
