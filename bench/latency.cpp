// Latency of a board command through the daemon: from a play frame written on the board's end of
// the serial line to the arrival of the resulting Player.Stop and Player.Open at the media centre.
// Runs inside the box: tests/box/box --bind build -- build/bench_latency [count]

#include "link/dmxorder.h"
#include "tests/support/fakemediacentre.h"
#include "tools/standins/boardport.h"
#include "tools/standins/box.h"
#include "tools/standins/daemonprocess.h"
#include "tools/standins/devicefiles.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

// 5 bytes of 10 bits (start, 8 data, stop) at 9600 baud.
constexpr double WireTimeMs = 5 * 10 * 1000.0 / 9600;

double percentile(QVector<qint64> sortedNs, double fraction)
{
    const int index = std::min(int(sortedNs.size() * fraction), sortedNs.size() - 1);
    return sortedNs.at(index) / 1e6;
}

void printRow(const char *what, QVector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    std::printf("%-28s %6d  %8.3f  %8.3f  %8.3f\n", what, ns.size(), percentile(ns, 0.50),
                percentile(ns, 0.99), ns.last() / 1e6);
}

} // namespace

int main(int argc, char *argv[])
{
    Box::requireBox();
    QCoreApplication app(argc, argv);
    const int count = std::max(1000, argc > 1 ? QByteArray(argv[1]).toInt() : 1000);

    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), QByteArray());
    DeviceFiles::clearStick();
    DeviceFiles::writeStickFile(QStringLiteral("a.mp4"), "media");
    DeviceFiles::writeStickConfig("channel=1\n[playlist]\nsize=1\n1\\track=a.mp4\n");

    FakeMediaCentre centre;
    BoardPort board;
    DaemonProcess daemon;
    if (!centre.listen() || !board.open() || !daemon.start()) {
        std::fprintf(stderr, "latency: cannot set up the media centre, the board port or the daemon\n");
        return 1;
    }
    // Reset frame, then the channel frame: the board link is ready.
    if (!board.waitForFrames(2, 20000)) {
        std::fprintf(stderr, "latency: the board link did not come up\n");
        return 1;
    }

    const QByteArray play = DmxOrder(CMD_PLAY, 0).toBytes();
    QVector<qint64> toEcho, toStop, toOpen;
    qint64 echoNs = 0;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    const auto done = [&] { return echoNs && centre.transportRequests().size() >= 2; };
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&board, &BoardPort::frameReceived, &loop, [&] {
        echoNs = centre.elapsedNs();
        if (done())
            loop.quit();
    });
    QObject::connect(&centre, &FakeMediaCentre::requestReceived, &loop, [&] {
        if (done())
            loop.quit();
    });

    int lost = 0;
    for (int i = 0; i < count; ++i) {
        centre.clearRequests();
        echoNs = 0;
        const qint64 sentNs = centre.elapsedNs();
        board.send(play);
        timeout.start(5000);
        if (!done())
            loop.exec();
        const QList<FakeMediaCentre::Request> requests = centre.transportRequests();
        if (!done() || requests.at(0).method() != QLatin1String("Player.Stop")
            || requests.at(1).method() != QLatin1String("Player.Open")) {
            ++lost;
            continue;
        }
        toEcho << echoNs - sentNs;
        toStop << requests.at(0).atNs - sentNs;
        toOpen << requests.at(1).atNs - sentNs;
    }
    daemon.stop();

    std::printf("board play frame -> echo and media-centre requests, %d commands, in ms\n", count);
    std::printf("%-28s %6s  %8s  %8s  %8s\n", "", "n", "p50", "p99", "max");
    if (!toStop.isEmpty()) {
        printRow("to the echo on the board", toEcho);
        printRow("to Player.Stop", toStop);
        printRow("to Player.Open", toOpen);
    }
    std::printf("wire time of one frame at 9600 baud: %.1f ms (the box's pty adds none)\n", WireTimeMs);
    std::printf("commands without echo, Stop and Open within 5 s: %d\n", lost);
    return 0;
}
