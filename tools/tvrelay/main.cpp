// Sits between the daemon and the real media centre: serves 127.0.0.1:9999, passes every byte on to
// the media centre's own port and back, and prints what the daemon asked for and what the media
// centre reported, in the stand-in television's format, so the demo reads either the same way.
#include "wire/jsonstreamsplitter.h"
#include "tools/standins/screenlog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

using ScreenLog::say;
QString lastOpened_; // the media centre names an audio item by nothing at all

using ScreenLog::playerKind;

// Requests by their id, so an error reply can name what it refused.
using Pending = QHash<QString, QString>;

QString idOf(const QJsonObject &json)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"id", json["id"]}}).toJson(QJsonDocument::Compact));
}

void describeRequest(const QByteArray &raw, Pending &pending)
{
    const QJsonObject json = QJsonDocument::fromJson(raw).object();
    if (pending.size() > 1000) // requests the media centre never answered
        pending.clear();
    if (json.contains("id"))
        pending.insert(idOf(json), json["method"].toString());
    if (json["method"].toString() == "Player.Open")
        lastOpened_ = json["params"]["item"]["file"].toString();
    ScreenLog::describeRequest(json, raw);
}

// Replies and the notifications that show what the screen does; the rest (AV changes, playlist
// bookkeeping, volume echoes) would only bury them.
void describeAnswer(const QByteArray &raw, Pending &pending)
{
    const QJsonObject json = QJsonDocument::fromJson(raw).object();
    const QString request = json.contains("id") ? pending.take(idOf(json)) : QString();
    const QJsonObject data = json["params"]["data"].toObject();
    const QString method = json["method"].toString();
    const int playerId = data["player"]["playerid"].toInt(-1);
    if (json.contains("error"))
        say("error", QString("%1 %2  (to %3)").arg(json["error"]["code"].toInt()).arg(json["error"]["message"].toString(), request));
    else if (method == "Player.OnPlay") {
        const QJsonObject item = data["item"].toObject();
        const QString name = item.contains("file") ? item["file"].toString() : lastOpened_;
        say("playing", QString("%1  (%2, player %3)").arg(name, playerKind(playerId)).arg(playerId));
    } else if (method == "Player.OnStop")
        say(data["end"].toBool() ? "ended" : "stopped", playerId < 0 ? QString() : playerKind(playerId));
    else if (method == "Player.OnPause")
        say("paused", playerKind(playerId));
    else if (method == "Player.OnResume")
        say("resumed", playerKind(playerId));
}

// One daemon connection and its own connection to the media centre.
void relay(QTcpSocket *client, quint16 upstreamPort)
{
    auto upstream = new QTcpSocket(client);
    auto requests = std::make_shared<JsonStreamSplitter>();
    auto answers = std::make_shared<JsonStreamSplitter>();
    auto held = std::make_shared<QByteArray>(); // what the daemon wrote before the media centre answered
    auto pending = std::make_shared<Pending>();
    QObject::connect(client, &QTcpSocket::readyRead, client, [=] {
        const QByteArray bytes = client->readAll();
        for (const QByteArray &request : requests->feed(bytes))
            describeRequest(request, *pending);
        if (upstream->state() == QAbstractSocket::ConnectedState)
            upstream->write(bytes);
        else
            held->append(bytes);
    });
    QObject::connect(upstream, &QTcpSocket::connected, client, [=] {
        upstream->write(*held);
        held->clear();
    });
    QObject::connect(upstream, &QTcpSocket::readyRead, client, [=] {
        const QByteArray bytes = upstream->readAll();
        for (const QByteArray &answer : answers->feed(bytes))
            describeAnswer(answer, *pending);
        client->write(bytes);
    });
    // Either side going away ends both, so the daemon sees the media centre leave as it would.
    QObject::connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
    QObject::connect(upstream, &QTcpSocket::errorOccurred, client, [=] {
        say("link", "media centre: " + upstream->errorString());
        client->disconnectFromHost();
    });
    QObject::connect(client, &QTcpSocket::disconnected, client, [=] {
        say("link", "the daemon left");
        client->deleteLater();
    });
    upstream->connectToHost(QHostAddress::LocalHost, upstreamPort);
    say("link", "the daemon connected");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Relays the media centre's JSON-RPC port 127.0.0.1:9999 to the real media centre and prints the traffic.");
    parser.addHelpOption();
    QCommandLineOption upstreamOption("upstream", "The real media centre's JSON-RPC port on 127.0.0.1.", "PORT", "9998");
    parser.addOption(upstreamOption);
    parser.process(app);
    const quint16 upstreamPort = parser.value(upstreamOption).toUShort();
    if (upstreamPort == 0 || upstreamPort == 9999) {
        std::fprintf(stderr, "tvrelay: --upstream must be a port other than 9999\n");
        return 2;
    }

    ScreenLog::start();
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 9999)) {
        std::fprintf(stderr, "tvrelay: cannot listen on 127.0.0.1:9999: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *client = server.nextPendingConnection())
            relay(client, upstreamPort);
    });

    // The demo's "end" arrives here; the real media centre ends items only by playing them out.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[256];
        if (!std::fgets(line, sizeof line, stdin))
            input.setEnabled(false);
        else
            say("note", "the real media centre ends an item only when it has played out");
    });
    say("ready", QString("relaying 127.0.0.1:9999 to the media centre on port %1").arg(upstreamPort));
    return app.exec();
}
