#include "tests/support/fakemediacentre.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>

namespace {
QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray notification(const QString &method, const QJsonObject &data)
{
    return compact({{"jsonrpc", "2.0"}, {"method", method}, {"params", QJsonObject{{"data", data}, {"sender", "xbmc"}}}});
}
}

FakeMediaCentre::FakeMediaCentre(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    m_clock.start();
    connect(m_server, &QTcpServer::newConnection, this, &FakeMediaCentre::onNewConnection);
}

QList<FakeMediaCentre::Request> FakeMediaCentre::matching(const QString &method, bool equal) const
{
    QList<Request> found;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(found), [&](const Request &r) { return (r.method() == method) == equal; });
    return found;
}

void FakeMediaCentre::onNewConnection()
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

// Records each request and answers it as the real one does: "OK", or a parse error for bytes that are not JSON.
void FakeMediaCentre::onReadyRead(QTcpSocket *client, JsonStreamSplitter &splitter)
{
    const qint64 at = elapsedNs();
    for (const QByteArray &raw : splitter.feed(client->readAll())) {
        const QJsonDocument document = QJsonDocument::fromJson(raw);
        const Request request{raw, document.object(), document.isObject(), at};
        m_requests << request;
        emit requestReceived(request);
        client->write(request.valid ? compact({{"jsonrpc", "2.0"}, {"id", request.json.value("id")}, {"result", "OK"}})
                                    : compact({{"jsonrpc", "2.0"}, {"id", QJsonValue()},
                                               {"error", QJsonObject{{"code", -32700}, {"message", "Parse error."}}}}));
        if (m_simulate && request.valid)
            simulate(request);
    }
}

void FakeMediaCentre::push(const QByteArray &bytes)
{
    for (QTcpSocket *client : qAsConst(m_clients))
        client->write(bytes);
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
    // The real one announces a new item 40-110 ms after the open request.
    if (request.method() == "Player.Open")
        QTimer::singleShot(50, this, [this, file = request.params().value("item")["file"].toString()] { startItem(file); });
    else if (request.method() == "Player.Stop" && m_currentPlayer >= 0)
        QTimer::singleShot(30, this, [this] { stopItem(m_currentPlayer == 2); });
}

void FakeMediaCentre::startItem(const QString &file)
{
    stopItem(false);
    m_currentFile = file;
    const QString suffix = QFileInfo(file).suffix().toLower();
    // As the real one numbers its players: 0 audio, 1 video, 2 picture.
    m_currentPlayer = QStringList{"png", "jpg", "jpeg", "bmp", "gif"}.contains(suffix) ? 2
        : QStringList{"mp3", "wav", "flac", "ogg", "aac", "m4a"}.contains(suffix) ? 0 : 1;
    const int item = ++m_itemsStarted;
    push(onPlay(m_currentPlayer));
    emit itemStarted(file, m_currentPlayer);
    // A picture stays until it is stopped, as on the real one.
    if (m_autoEndMs > 0 && m_currentPlayer != 2) {
        QTimer::singleShot(m_autoEndMs, this, [this, item] {
            if (item == m_itemsStarted)
                stopItem(true);
        });
    }
}

void FakeMediaCentre::stopItem(bool end)
{
    if (m_currentPlayer < 0)
        return;
    push(onStop(end, m_currentPlayer == 2 ? 2 : -1));
    emit itemEnded(m_currentFile, end);
    m_currentPlayer = -1;
}
