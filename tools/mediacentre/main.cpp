// A stand-in for the television: serves the media centre's JSON-RPC port on 127.0.0.1:9999 and
// prints what the screen would show. Typing "end" (or Enter) ends the item now.
#include "tools/standins/mediacentrestandin.h"
#include "tools/standins/screenlog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

using ScreenLog::playerKind;
using ScreenLog::say;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Stand-in television: the media centre's JSON-RPC port on 127.0.0.1:9999.");
    parser.addHelpOption();
    QCommandLineOption endAfter("end-after", "Audio and video end by themselves after MS milliseconds (0: never).", "MS", "5000");
    parser.addOption(endAfter);
    parser.process(app);

    ScreenLog::start();
    MediaCentreStandIn centre;
    centre.setSimulatePlayback(true);
    centre.setAutoEndMs(parser.value(endAfter).toInt());
    if (!centre.listen()) {
        std::fprintf(stderr, "mediacentre: cannot listen on 127.0.0.1:9999\n");
        return 1;
    }
    QObject::connect(&centre, &MediaCentreStandIn::clientConnected, [] { say("link", "the daemon connected"); });
    QObject::connect(&centre, &MediaCentreStandIn::requestReceived, [](const MediaCentreStandIn::Request &request) {
        ScreenLog::describeRequest(request.json, request.raw);
    });
    QObject::connect(&centre, &MediaCentreStandIn::itemStarted, [](const QString &file, int playerId) {
        say("playing", QString("%1  (%2, player %3)").arg(file, playerKind(playerId)).arg(playerId));
    });
    QObject::connect(&centre, &MediaCentreStandIn::itemEnded, [](const QString &file, bool end) {
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
