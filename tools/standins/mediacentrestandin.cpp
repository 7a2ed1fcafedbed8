#include "tools/standins/mediacentrestandin.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {
// The real one's pace: a new item is announced 40-110 ms after the open request.
constexpr int openToPlayMs = 50;
constexpr int stopToNoticeMs = 30;
// Sound and picture start a little after the item is announced (0.1-0.7 s on the real one).
constexpr int playToAvStartMs = 100;

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray notification(const QString &method, const QJsonObject &data)
{
    return compact({{"jsonrpc", "2.0"}, {"method", method}, {"params", QJsonObject{{"data", data}, {"sender", "xbmc"}}}});
}

QByteArray playerNotice(const QString &method, int playerId, int speed)
{
    return notification(method, {{"item", QJsonObject{{"type", "unknown"}}}, {"player", QJsonObject{{"playerid", playerId}, {"speed", speed}}}});
}

QJsonObject error(int code, const QString &message)
{
    return {{"code", code}, {"message", message}};
}

const QJsonObject invalidParams = error(-32602, "Invalid params.");
const QJsonObject failed = error(-32100, "Failed to execute method.");
}

MediaCentreStandIn::MediaCentreStandIn(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &MediaCentreStandIn::onNewConnection);
}

void MediaCentreStandIn::dropClients()
{
    // Each abort reports its link closed, which forgets the client.
    for (QTcpSocket *client : QList<QTcpSocket *>(m_clients))
        client->abort();
}

void MediaCentreStandIn::onNewConnection()
{
    while (QTcpSocket *client = m_server->nextPendingConnection()) {
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_clients << client;
        ++m_connectionsAccepted;
        connect(client, &QTcpSocket::readyRead, this, [this, client, splitter = JsonStreamSplitter()]() mutable { onReadyRead(client, splitter); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            m_clients.removeAll(client);
            client->deleteLater();
        });
        emit clientConnected();
    }
}

void MediaCentreStandIn::onReadyRead(QTcpSocket *client, JsonStreamSplitter &splitter)
{
    for (const QByteArray &raw : splitter.feed(client->readAll())) {
        const QJsonDocument document = QJsonDocument::fromJson(raw);
        const Request request{raw, document.object(), document.isObject(), 0};
        received(request);
        emit requestReceived(request);
        // Notices the request causes at once go out before its answer, as on the real one.
        const QByteArray reply = answer(request);
        if (!reply.isEmpty())
            client->write(reply);
    }
}

QByteArray MediaCentreStandIn::answer(const Request &request)
{
    QJsonObject reply{{"jsonrpc", "2.0"}, {"id", request.valid ? request.json.value("id") : QJsonValue()}};
    if (!request.valid) {
        reply.insert("error", error(-32700, "Parse error."));
        return compact(reply);
    }
    // A request without an id is a notice to the media centre: it gets no answer.
    if (!request.json.contains("id"))
        return {};
    QJsonValue result = "OK";
    if (m_simulate) {
        const QJsonObject params = request.params();
        const QString method = request.method();
        if (method == "Player.Open")
            result = open(params["item"]["file"].toString());
        else if (method == "Player.Stop")
            result = stop(params["playerid"].toInt(-1));
        else if (method == "Player.PlayPause")
            result = playPause(params["playerid"].toInt(-1), params["play"].toBool(true));
        else if (method == "Application.SetVolume")
            result = params["volume"];
        else if (method == "Player.GetActivePlayers")
            result = activePlayers();
    }
    reply.insert(result.isObject() && result.toObject().contains("code") ? "error" : "result", result);
    return compact(reply);
}

MediaCentreStandIn::Player MediaCentreStandIn::playerFor(const QString &file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    return QStringList{"png", "jpg", "jpeg", "bmp", "gif"}.contains(suffix) ? Picture
        : QStringList{"mp3", "wav", "flac", "ogg", "aac", "m4a"}.contains(suffix) ? Audio
        : Video;
}

QJsonValue MediaCentreStandIn::open(const QString &file)
{
    if (!QFileInfo(file).isFile())
        return invalidParams;
    const Player player = playerFor(file);
    if (player == Picture) {
        later(openToPlayMs, [this, file] {
            // A new slideshow first reports the end of the previous one, whether or not it still
            // shows, and also when audio plays; the audio plays on under the picture.
            if (m_pictureShown || m_media == Audio)
                push(onStop(true, Picture));
            m_pictureShown = true;
            m_pictureFile = file;
            push(onPlay(Picture));
            emit itemStarted(file, Picture);
        });
        return "OK";
    }
    if (undecodable(file))
        later(openToPlayMs, [this, player] { failMedia(player); });
    else
        later(openToPlayMs, [this, file, player] { startMedia(file, player); });
    return "OK";
}

bool MediaCentreStandIn::undecodable(const QString &file)
{
    const QFileInfo info(file);
    return info.size() == 0 || info.fileName().startsWith("broken");
}

// The item replaces whatever played, is announced, and has already gone.
void MediaCentreStandIn::failMedia(Player player)
{
    stopPicture();
    if (m_media != NoPlayer)
        finishMedia(false);
    else
        push(onStop(false));
    push(onPlay(player));
}

QJsonArray MediaCentreStandIn::activePlayers() const
{
    static const char *const types[] = {"audio", "video", "picture"};
    QJsonArray players;
    for (const Player player : {m_media, m_pictureFile.isEmpty() ? NoPlayer : Picture})
        if (player != NoPlayer)
            players << QJsonObject{{"playerid", player}, {"playertype", "internal"}, {"type", types[player]}};
    return players;
}

void MediaCentreStandIn::startMedia(const QString &file, Player player)
{
    // Audio or video replaces whatever plays, the picture included.
    stopPicture();
    if (m_media != NoPlayer) {
        // Audio taking over from video is first reported as a resume of the audio player.
        if (m_media == Video && player == Audio)
            push(playerNotice("Player.OnResume", player, 1));
        finishMedia(false);
    }
    m_media = player;
    m_mediaFile = file;
    m_mediaPaused = false;
    m_mediaLeftMs = m_autoEndMs;
    push(onPlay(player));
    emit itemStarted(file, player);
    runMedia();
    later(playToAvStartMs, [this, player, run = m_mediaRun] {
        if (run == m_mediaRun)
            push(onAvStart(player));
    });
}

void MediaCentreStandIn::runMedia()
{
    // Each stretch of playing has its own end; a pause or a stop leaves the earlier one stale.
    const int run = ++m_mediaRun;
    m_mediaClock.start();
    if (m_autoEndMs > 0)
        later(int(m_mediaLeftMs), [this, run] {
            if (run == m_mediaRun)
                finishMedia(true);
        });
}

// Audio or video leaves the screen: by reaching its end, or stopped (end:false).
void MediaCentreStandIn::finishMedia(bool ended)
{
    if (m_media == NoPlayer)
        return;
    m_media = NoPlayer;
    ++m_mediaRun;
    push(onStop(ended));
    emit itemEnded(m_mediaFile, ended);
}

void MediaCentreStandIn::stopPicture()
{
    if (m_pictureFile.isEmpty())
        return;
    push(onStop(true, Picture));
    emit itemEnded(m_pictureFile, true);
    m_pictureFile.clear();
}

QJsonValue MediaCentreStandIn::stop(int playerId)
{
    if (playerId == Picture && !m_pictureFile.isEmpty())
        later(stopToNoticeMs, [this] { stopPicture(); });
    else if (playerId == m_media)
        later(stopToNoticeMs, [this] { finishMedia(false); });
    return "OK";
}

QJsonValue MediaCentreStandIn::playPause(int playerId, bool play)
{
    if (playerId != m_media || m_media == NoPlayer)
        return failed;
    if (m_mediaPaused != play)
        return QJsonObject{{"speed", play ? 1 : 0}};
    m_mediaPaused = !play;
    push(playerNotice(play ? "Player.OnResume" : "Player.OnPause", playerId, play ? 1 : 0));
    if (play) {
        runMedia();
    } else {
        m_mediaLeftMs = qMax<qint64>(0, m_mediaLeftMs - m_mediaClock.elapsed());
        ++m_mediaRun;
    }
    return QJsonObject{{"speed", play ? 1 : 0}};
}

void MediaCentreStandIn::later(int ms, std::function<void()> action)
{
    QTimer::singleShot(ms, this, std::move(action));
}

void MediaCentreStandIn::push(const QByteArray &bytes)
{
    for (QTcpSocket *client : qAsConst(m_clients))
        client->write(bytes);
}

QByteArray MediaCentreStandIn::onPlay(int playerId)
{
    return playerNotice("Player.OnPlay", playerId, 1);
}

QByteArray MediaCentreStandIn::onAvStart(int playerId)
{
    return playerNotice("Player.OnAVStart", playerId, 1);
}

QByteArray MediaCentreStandIn::onStop(bool end, int playerId)
{
    QJsonObject data{{"end", end}, {"item", QJsonObject{{"type", "unknown"}}}};
    if (playerId >= 0)
        data.insert("player", QJsonObject{{"playerid", playerId}});
    return notification("Player.OnStop", data);
}
