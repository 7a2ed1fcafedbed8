// Time from a command handed to the player's worker thread (a queued slot call, as the hub makes
// it) to the resulting request arriving at the media centre on 127.0.0.1:9999.
// Runs inside the box: tests/box/box -- build/bench_playercommand [count]

#include "player/playermanager.h"
#include "tests/support/fakemediacentre.h"
#include "tools/standins/box.h"
#include "tools/standins/devicefiles.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

void printRow(const char *what, QVector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    const auto at = [&](double f) { return ns.at(std::min(int(ns.size() * f), ns.size() - 1)) / 1e6; };
    std::printf("%-34s %6d  %8.3f  %8.3f  %8.3f  %8.3f\n", what, ns.size(), at(0.0), at(0.5), at(0.99), ns.last() / 1e6);
}

// Issues `issue` and waits until `requests` more requests have arrived; returns the delay of each.
QVector<qint64> measure(FakeMediaCentre &centre, int requests, const std::function<void()> &issue)
{
    const int before = centre.requests().size();
    // An event loop, not a polling wait: arrivals are stamped the moment the socket wakes us.
    QEventLoop loop;
    QObject::connect(&centre, &FakeMediaCentre::requestReceived, &loop, [&] {
        if (centre.requests().size() >= before + requests)
            loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    const qint64 start = centre.elapsedNs();
    issue();
    loop.exec();
    if (centre.requests().size() < before + requests)
        return {};
    QVector<qint64> delays;
    for (int i = before; i < before + requests; ++i)
        delays << centre.requests().at(i).atNs - start;
    return delays;
}

} // namespace

int main(int argc, char *argv[])
{
    Box::requireBox();
    QCoreApplication app(argc, argv);
    const int count = std::max(100, argc > 1 ? QByteArray(argv[1]).toInt() : 1000);

    DeviceFiles::clearStick();
    DeviceFiles::writeStickFile(QStringLiteral("a.mp4"), "media");
    DeviceFiles::writeStickConfig("[playlist]\nsize=1\n1\\track=a.mp4\n");

    FakeMediaCentre centre;
    if (!centre.listen()) {
        std::fprintf(stderr, "playercommand: cannot listen on 127.0.0.1:9999\n");
        return 1;
    }
    PlayerManager *player = new PlayerManager;
    QThread worker;
    player->moveToThread(&worker);
    worker.start();
    QMetaObject::invokeMethod(player, "connectToPlayer", Qt::QueuedConnection);
    if (!QTest::qWaitFor([&] { return centre.clientCount() == 1; }, 5000)) {
        std::fprintf(stderr, "playercommand: the player did not connect\n");
        return 1;
    }
    // Let the start sequence (2 s) pass so that its requests do not mix with the measured ones.
    QTest::qWait(2500);

    QVector<qint64> stop, playStop, playOpen, notice;
    for (int i = 0; i < count; ++i) {
        stop += measure(centre, 1, [&] { QMetaObject::invokeMethod(player, "stop", Qt::QueuedConnection); });
        const QVector<qint64> play = measure(centre, 2, [&] { QMetaObject::invokeMethod(player, "play", Qt::QueuedConnection); });
        if (play.size() == 2) {
            playStop << play.at(0);
            playOpen << play.at(1);
        }
        notice += measure(centre, 1, [&] {
            QMetaObject::invokeMethod(player, "showMessage", Qt::QueuedConnection, Q_ARG(QString, "t"),
                                      Q_ARG(QString, "m"), Q_ARG(int, 1500));
        });
    }
    const QVector<qint64> burst = measure(centre, 100, [&] {
        for (int i = 0; i < 100; ++i)
            QMetaObject::invokeMethod(player, "stop", Qt::QueuedConnection);
    });

    std::printf("command to arrival at the media centre, ms\n");
    std::printf("%-34s %6s  %8s  %8s  %8s  %8s\n", "", "n", "min", "median", "p99", "max");
    printRow("stop -> Player.Stop", stop);
    printRow("play -> Player.Stop", playStop);
    printRow("play -> Player.Open", playOpen);
    printRow("showMessage -> notification", notice);
    printRow("100 stops queued at once", burst);

    QMetaObject::invokeMethod(player, [player] { delete player; }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
    return 0;
}
