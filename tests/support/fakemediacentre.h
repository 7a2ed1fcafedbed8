// A stand-in for the media centre's JSON-RPC TCP service on 127.0.0.1:9999: records every
// request with its arrival time, answers like the real one and pushes notifications.
#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include "player/jsonstreamsplitter.h"

class FakeMediaCentre : public QObject
{
    Q_OBJECT
public:
    struct Request {
        QByteArray raw;   // the bytes of one JSON value as cut from the stream
        QJsonObject json; // empty when the bytes did not parse
        bool valid = false;
        qint64 atNs = 0; // arrival, on the clock of elapsedNs()
        QString method() const { return json.value(QStringLiteral("method")).toString(); }
        QJsonObject params() const { return json.value(QStringLiteral("params")).toObject(); }
        qint64 atMs() const { return atNs / 1000000; }
    };

    explicit FakeMediaCentre(QObject *parent = nullptr);

    bool listen(quint16 port = 9999) { return m_server->listen(QHostAddress::LocalHost, port); }
    // Closes the links but keeps listening, as when the media centre drops its clients; each
    // abort reports its link closed, which forgets the client.
    void dropClients()
    {
        for (QTcpSocket *client : QList<QTcpSocket *>(m_clients))
            client->abort();
    }
    int clientCount() const { return m_clients.size(); }
    int connectionsAccepted() const { return m_connectionsAccepted; }

    QList<Request> requests() const { return m_requests; }
    // Only the requests whose "method" equals `method`.
    QList<Request> requests(const QString &method) const { return matching(method, true); }
    // The requests other than notifications: what playback control sent.
    QList<Request> transportRequests() const { return matching(QStringLiteral("GUI.ShowNotification"), false); }
    void clearRequests() { m_requests.clear(); }
    qint64 elapsedNs() const { return m_clock.nsecsElapsed(); }
    qint64 elapsedMs() const { return m_clock.elapsed(); }

    // Queues bytes for every client; what is pushed before the event loop turns leaves in one write
    // (several messages glued together).
    void push(const QByteArray &bytes);
    static QByteArray onPlay(int playerId);
    // playerId < 0 leaves out the "player" key, as for audio and video.
    static QByteArray onStop(bool end, int playerId = -1);

    // Playback simulation: after Player.Open announce OnPlay (player 0 audio, 1 video,
    // 2 picture by file extension), after Player.Stop announce OnStop, and when
    // autoEndMs > 0 end audio and video by themselves after that time.
    void setSimulatePlayback(bool on) { m_simulate = on; }
    void setAutoEndMs(int ms) { m_autoEndMs = ms; }
    // Ends the item on screen now, as if it had played to its end.
    void endCurrentItem() { stopItem(true); }

signals:
    void clientConnected();
    void requestReceived(const FakeMediaCentre::Request &request);
    // Emitted by the playback simulation for what a television would show.
    void itemStarted(const QString &file, int playerId);
    void itemEnded(const QString &file, bool end);

private:
    QList<Request> matching(const QString &method, bool equal) const;
    void onNewConnection();
    void onReadyRead(QTcpSocket *client, JsonStreamSplitter &splitter);
    void simulate(const Request &request);
    void startItem(const QString &file);
    void stopItem(bool end);

    QTcpServer *m_server; // a child: it and its sockets go after the connections to this object
    QList<QTcpSocket *> m_clients;
    QList<Request> m_requests;
    QElapsedTimer m_clock;
    int m_connectionsAccepted = 0;

    bool m_simulate = false;
    int m_autoEndMs = 0;
    QString m_currentFile;
    int m_currentPlayer = -1; // none on screen
    int m_itemsStarted = 0;   // tells a stale end timer from the current item's
};
