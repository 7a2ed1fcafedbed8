// A stand-in for the media centre's JSON-RPC TCP service on 127.0.0.1: answers each request and,
// when it simulates playback, sends the notices the real one (Kodi 20.1) sends, in its order and
// roughly at its pace. The test fake and the demo's stand-in television are both built on it.
#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

#include "wire/jsonstreamsplitter.h"

class MediaCentreStandIn : public QObject
{
    Q_OBJECT
public:
    struct Request {
        QByteArray raw;   // the bytes of one JSON value as cut from the stream
        QJsonObject json; // empty when the bytes did not parse
        bool valid = false;
        qint64 atNs = 0; // arrival, on the clock of the owner's choosing (0 here)
        QString method() const { return json.value(QStringLiteral("method")).toString(); }
        QJsonObject params() const { return json.value(QStringLiteral("params")).toObject(); }
        qint64 atMs() const { return atNs / 1000000; }
    };

    // The real one's players.
    enum Player { NoPlayer = -1, Audio = 0, Video = 1, Picture = 2 };

    explicit MediaCentreStandIn(QObject *parent = nullptr);

    bool listen(quint16 port = 9999) { return m_server->listen(QHostAddress::LocalHost, port); }
    // Closes the links but keeps listening, as when the media centre drops its clients.
    void dropClients();
    int clientCount() const { return m_clients.size(); }
    int connectionsAccepted() const { return m_connectionsAccepted; }

    // Queues bytes for every client; what is pushed before the event loop turns leaves in one write.
    void push(const QByteArray &bytes);
    static QByteArray onPlay(int playerId);
    static QByteArray onAvStart(int playerId);
    // playerId < 0 leaves out the "player" key, as for audio and video.
    static QByteArray onStop(bool end, int playerId = -1);

    // Playback: without it every valid request is answered "OK" and nothing else is sent (tests
    // then push notices themselves). With it, audio and video end by themselves after autoEndMs
    // (0: never); a picture stays until it is stopped, as on the real one.
    void setSimulatePlayback(bool on) { m_simulate = on; }
    void setAutoEndMs(int ms) { m_autoEndMs = ms; }
    // Ends the audio or video item now, as if it had played to its end.
    void endCurrentItem() { finishMedia(true); }
    static Player playerFor(const QString &file);
    // What the real one cannot decode (an empty file; here also any file named broken*): it accepts
    // the open, reports a stop and the item playing, and then nothing more; no player stays active.
    static bool undecodable(const QString &file);

signals:
    void clientConnected();
    void requestReceived(const MediaCentreStandIn::Request &request);
    // What a television would show.
    void itemStarted(const QString &file, int playerId);
    void itemEnded(const QString &file, bool end);

protected:
    virtual void received(const Request &) {}

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *client, JsonStreamSplitter &splitter);
    QByteArray answer(const Request &request);
    QJsonValue open(const QString &file);
    QJsonValue stop(int playerId);
    QJsonValue playPause(int playerId, bool play);
    void startMedia(const QString &file, Player player);
    void failMedia(Player player);
    QJsonArray activePlayers() const;
    void runMedia();
    void finishMedia(bool ended);
    void stopPicture();
    void later(int ms, std::function<void()> action);

    QTcpServer *m_server; // a child: it and its sockets go after the connections to this object
    QList<QTcpSocket *> m_clients;
    int m_connectionsAccepted = 0;

    bool m_simulate = false;
    int m_autoEndMs = 0;
    // Audio or video: at most one at a time; a picture shows beside it.
    Player m_media = NoPlayer;
    QString m_mediaFile;
    int m_mediaRun = 0; // counts the stretches of playing: tells a stale end timer from the current one
    bool m_mediaPaused = false;
    qint64 m_mediaLeftMs = 0; // of the item's time, when it plays on
    QElapsedTimer m_mediaClock; // since the item last started or resumed
    QString m_pictureFile;
    bool m_pictureShown = false; // a slideshow ran since start: the next one first reports its end
};
