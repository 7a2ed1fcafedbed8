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

FakeMediaCentre::~FakeMediaCentre()
{
    close();
}

bool FakeMediaCentre::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void FakeMediaCentre::close()
{
    m_server->close();
    dropClients();
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

bool FakeMediaCentre::isListening() const
{
    return m_server->isListening();
}

int FakeMediaCentre::clientCount() const
{
    return m_clients.size();
}

QList<FakeMediaCentre::Request> FakeMediaCentre::requests(const QString &method) const
{
    QList<Request> matching;
    for (const Request &request : m_requests) {
        if (request.method() == method)
            matching << request;
    }
    return matching;
}

QList<FakeMediaCentre::Request> FakeMediaCentre::transportRequests() const
{
    QList<Request> matching;
    for (const Request &request : m_requests) {
        if (request.method() != QLatin1String("GUI.ShowNotification"))
            matching << request;
    }
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

void FakeMediaCentre::onReadyRead(QTcpSocket *client)
{
    const qint64 at = elapsedNs();
    const QList<QByteArray> values = m_splitters[client].feed(client->readAll());
    for (const QByteArray &raw : values) {
        Request request;
        request.raw = raw;
        request.atNs = at;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(raw, &error);
        request.valid = error.error == QJsonParseError::NoError && document.isObject();
        request.json = document.object();
        handle(client, request);
    }
}

void FakeMediaCentre::handle(QTcpSocket *client, Request request)
{
    m_requests << request;
    emit requestReceived(request);
    client->write(answerFor(request));
    client->flush();
    if (m_simulate && request.valid)
        simulate(request);
}

QByteArray FakeMediaCentre::answerFor(const Request &request) const
{
    QJsonObject answer{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}};
    if (!request.valid) {
        answer.insert(QStringLiteral("id"), QJsonValue());
        answer.insert(QStringLiteral("error"),
                      QJsonObject{{QStringLiteral("code"), -32700}, {QStringLiteral("message"), QStringLiteral("Parse error.")}});
        return compact(answer);
    }
    answer.insert(QStringLiteral("id"), request.json.value(QStringLiteral("id")));
    answer.insert(QStringLiteral("result"), QStringLiteral("OK"));
    return compact(answer);
}

void FakeMediaCentre::push(const QByteArray &bytes)
{
    for (QTcpSocket *client : qAsConst(m_clients)) {
        client->write(bytes);
        client->flush();
    }
}

QByteArray FakeMediaCentre::notification(const QString &method, const QJsonObject &data)
{
    return compact(QJsonObject{
        {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
        {QStringLiteral("method"), method},
        {QStringLiteral("params"), QJsonObject{{QStringLiteral("data"), data}, {QStringLiteral("sender"), QStringLiteral("xbmc")}}},
    });
}

QByteArray FakeMediaCentre::onPlay(int playerId)
{
    return notification(QStringLiteral("Player.OnPlay"),
                        QJsonObject{{QStringLiteral("item"), QJsonObject{{QStringLiteral("type"), QStringLiteral("unknown")}}},
                                    {QStringLiteral("player"), QJsonObject{{QStringLiteral("playerid"), playerId}, {QStringLiteral("speed"), 1}}}});
}

QByteArray FakeMediaCentre::onStop(bool end, int playerId)
{
    QJsonObject data{{QStringLiteral("end"), end},
                     {QStringLiteral("item"), QJsonObject{{QStringLiteral("type"), QStringLiteral("unknown")}}}};
    if (playerId >= 0)
        data.insert(QStringLiteral("player"), QJsonObject{{QStringLiteral("playerid"), playerId}});
    return notification(QStringLiteral("Player.OnStop"), data);
}

int FakeMediaCentre::playerIdForFile(const QString &file)
{
    static const QStringList pictures{"png", "jpg", "jpeg", "bmp", "gif"};
    static const QStringList audio{"mp3", "wav", "flac", "ogg", "aac", "m4a"};
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (pictures.contains(suffix))
        return 2;
    if (audio.contains(suffix))
        return 0;
    return 1;
}

void FakeMediaCentre::simulate(const Request &request)
{
    const QString method = request.method();
    const QJsonObject params = request.params();
    if (method == QLatin1String("Player.Open")) {
        const QString file = params.value(QStringLiteral("item")).toObject().value(QStringLiteral("file")).toString();
        QTimer::singleShot(onPlayDelayMs, this, [this, file] { startItem(file); });
    } else if (method == QLatin1String("Player.Stop")) {
        if (m_currentPlayer >= 0)
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
