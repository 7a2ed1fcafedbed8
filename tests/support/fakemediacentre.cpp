#include "tests/support/fakemediacentre.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
// The real one announces a new item 40-110 ms after the open request.
constexpr int onPlayDelayMs = 50;
constexpr int onStopDelayMs = 30;

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray notification(const QString &method, const QJsonObject &data)
{
    return compact({{"jsonrpc", "2.0"}, {"method", method}, {"params", QJsonObject{{"data", data}, {"sender", "xbmc"}}}});
}

// As the real one numbers its players: 0 audio, 1 video, 2 picture.
int playerIdForFile(const QString &file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (QStringList{"png", "jpg", "jpeg", "bmp", "gif"}.contains(suffix))
        return 2;
    return QStringList{"mp3", "wav", "flac", "ogg", "aac", "m4a"}.contains(suffix) ? 0 : 1;
}
}

FakeMediaCentre::FakeMediaCentre(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_endTimer(new QTimer(this))
{
    m_clock.start();
    m_endTimer->setSingleShot(true);
    connect(m_server, &QTcpServer::newConnection, this, &FakeMediaCentre::onNewConnection);
    connect(m_endTimer, &QTimer::timeout, this, [this] { stopItem(true); });
}

bool FakeMediaCentre::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void FakeMediaCentre::dropClients()
{
    const QList<QTcpSocket *> clients = m_clients;
    m_clients.clear();
    m_splitters.clear();
    for (QTcpSocket *client : clients) {
        client->disconnect(this);
        client->abort();
        client->deleteLater();
    }
}

QList<FakeMediaCentre::Request> FakeMediaCentre::requests(const QString &method) const
{
    QList<Request> matching;
    for (const Request &request : m_requests)
        if (request.method() == method)
            matching << request;
    return matching;
}

QList<FakeMediaCentre::Request> FakeMediaCentre::transportRequests() const
{
    QList<Request> matching;
    for (const Request &request : m_requests)
        if (request.method() != "GUI.ShowNotification")
            matching << request;
    return matching;
}

void FakeMediaCentre::onNewConnection()
{
    while (QTcpSocket *client = m_server->nextPendingConnection()) {
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_clients << client;
        m_splitters.insert(client, JsonStreamSplitter());
        ++m_connectionsAccepted;
        connect(client, &QTcpSocket::readyRead, this, [this, client] { onReadyRead(client); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            m_clients.removeAll(client);
            m_splitters.remove(client);
            client->deleteLater();
        });
        emit clientConnected();
    }
}

// Records each request and answers it as the real one does: "OK", or a parse error for bytes that are not JSON.
void FakeMediaCentre::onReadyRead(QTcpSocket *client)
{
    const qint64 at = elapsedNs();
    for (const QByteArray &raw : m_splitters[client].feed(client->readAll())) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(raw, &error);
        Request request{raw, document.object(), error.error == QJsonParseError::NoError && document.isObject(), at};
        m_requests << request;
        emit requestReceived(request);
        client->write(request.valid ? compact({{"jsonrpc", "2.0"}, {"id", request.json.value("id")}, {"result", "OK"}})
                                    : compact({{"jsonrpc", "2.0"}, {"id", QJsonValue()},
                                               {"error", QJsonObject{{"code", -32700}, {"message", "Parse error."}}}}));
        client->flush();
        if (m_simulate && request.valid)
            simulate(request);
    }
}

void FakeMediaCentre::push(const QByteArray &bytes)
{
    for (QTcpSocket *client : qAsConst(m_clients)) {
        client->write(bytes);
        client->flush();
    }
}

QByteArray FakeMediaCentre::onPlay(int playerId)
{
    return notification("Player.OnPlay", {{"item", QJsonObject{{"type", "unknown"}}},
                                          {"player", QJsonObject{{"playerid", playerId}, {"speed", 1}}}});
}

QByteArray FakeMediaCentre::onStop(bool end, int playerId)
{
    QJsonObject data{{"end", end}, {"item", QJsonObject{{"type", "unknown"}}}};
    if (playerId >= 0)
        data.insert("player", QJsonObject{{"playerid", playerId}});
    return notification("Player.OnStop", data);
}

void FakeMediaCentre::simulate(const Request &request)
{
    if (request.method() == "Player.Open") {
        const QString file = request.params()["item"].toObject()["file"].toString();
        QTimer::singleShot(onPlayDelayMs, this, [this, file] { startItem(file); });
    } else if (request.method() == "Player.Stop" && m_currentPlayer >= 0) {
        QTimer::singleShot(onStopDelayMs, this, [this] { stopItem(m_currentPlayer == 2); });
    }
}

void FakeMediaCentre::startItem(const QString &file)
{
    if (m_currentPlayer >= 0)
        stopItem(false);
    m_currentFile = file;
    m_currentPlayer = playerIdForFile(file);
    push(onPlay(m_currentPlayer));
    emit itemStarted(file, m_currentPlayer);
    // A picture stays until it is stopped, as on the real one.
    if (m_autoEndMs > 0 && m_currentPlayer != 2)
        m_endTimer->start(m_autoEndMs);
}

void FakeMediaCentre::stopItem(bool end)
{
    if (m_currentPlayer < 0)
        return;
    m_endTimer->stop();
    const int player = m_currentPlayer;
    const QString file = m_currentFile;
    m_currentPlayer = -1;
    m_currentFile.clear();
    push(onStop(end, player == 2 ? 2 : -1));
    emit itemEnded(file, end);
}
