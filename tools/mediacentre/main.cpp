// A stand-in for the television: serves the media centre's JSON-RPC port on 127.0.0.1:9999 and
// prints what the screen would show. Typing "end" (or Enter) ends the item now.
#include "tests/support/fakemediacentre.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {

QElapsedTimer clock_;

void say(const QString &what, const QString &detail)
{
    std::printf("[%8.3f] %-8s %s\n", clock_.elapsed() / 1000.0, qPrintable(what), qPrintable(detail));
    std::fflush(stdout);
}

QString kind(int playerId)
{
    return playerId == 2 ? "picture" : playerId == 0 ? "audio" : "video";
}

void describe(const FakeMediaCentre::Request &request)
{
    const QJsonObject p = request.params();
    const QString method = request.method();
    if (!request.valid)
        say("garbled", QString::fromUtf8(request.raw.left(200)) + "  (answered with a parse error)");
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Stand-in television: the media centre's JSON-RPC port on 127.0.0.1:9999.");
    parser.addHelpOption();
    QCommandLineOption endAfter("end-after", "Audio and video end by themselves after MS milliseconds (0: never).", "MS", "5000");
    parser.addOption(endAfter);
    parser.process(app);

    clock_.start();
    FakeMediaCentre centre;
    centre.setSimulatePlayback(true);
    centre.setAutoEndMs(parser.value(endAfter).toInt());
    if (!centre.listen()) {
        std::fprintf(stderr, "mediacentre: cannot listen on 127.0.0.1:9999\n");
        return 1;
    }
    QObject::connect(&centre, &FakeMediaCentre::clientConnected, [] { say("link", "the daemon connected"); });
    QObject::connect(&centre, &FakeMediaCentre::requestReceived, &describe);
    QObject::connect(&centre, &FakeMediaCentre::itemStarted, [](const QString &file, int playerId) {
        say("playing", QString("%1  (%2, player %3)").arg(file, kind(playerId)).arg(playerId));
    });
    QObject::connect(&centre, &FakeMediaCentre::itemEnded, [](const QString &file, bool end) {
        say(end ? "ended" : "stopped", file);
    });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[256];
        if (!std::fgets(line, sizeof line, stdin)) {
            input.setEnabled(false); // end of input: keep serving
            return;
        }
        centre.endCurrentItem();
    });
    say("ready", "listening on 127.0.0.1:9999");
    return app.exec();
}
