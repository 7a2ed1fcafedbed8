// Board frame -> media-centre request: the daemon against bench/ref_bridge.py, the few lines of
// Python a user might write instead. Both run in turn in the same box with the same stand-in media
// centre and board; each run measures every STOP frame from the board write to the Player.Stop
// request at the media centre and to the echo on the board, one command at a time with a pause
// between commands, as a desk sends them. Prints figures; never passes or fails on a time.
//
//   tests/box/box -- build/bench_latency [--runs 5] [--count 1000] [--gap-ms 10] [--daemon PATH]
//
// Per run: median and p99 of both and the ratio daemon/reference, the median to the echo, private
// memory (Private_Dirty) and Rss after the commands, context switches of all threads over 2 s of
// idling afterwards (0: nothing wakes up), and the daemon's start to its configuration port
// listening. --daemon measures another build of the daemon against the same reference.

#include "link/dmxorder.h"
#include "tests/support/fakemediacentre.h"
#include "tools/standins/boardport.h"
#include "tools/standins/box.h"
#include "tools/standins/devicefiles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct Options {
    int runs = 5;
    int count = 1000;
    int gapMs = 10;
    QString daemon = Box::daemonPath();
    QString reference = QStringLiteral(QUORVANT_SOURCE_DIR "/bench/ref_bridge.py");
};

struct Subject {
    const char *name;
    QString program;
    QStringList arguments;
    int readyFrames; // frames the subject writes to the board before it takes commands
    bool hasTcpService;
};

struct Figures {
    QVector<qint64> toRequestNs;
    QVector<qint64> toEchoNs;
    int lost = 0;
    qint64 privateDirtyKb = -1;
    qint64 rssKb = -1;
    qint64 listeningMs = -1;       // start to the configuration port listening (daemon only)
    qint64 idleSwitches = -1;      // context switches of all threads over the idle window
};

constexpr int warmUpCommands = 10;
constexpr int idleWindowMs = 2000;
constexpr int tcpServicePort = 50000;

double percentileMs(QVector<qint64> ns, double fraction)
{
    if (ns.isEmpty())
        return 0;
    std::sort(ns.begin(), ns.end());
    return ns.at(std::min(int(ns.size() * fraction), ns.size() - 1)) / 1e6;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

qint64 smapsKb(qint64 pid, const QByteArray &field)
{
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Voluntary and involuntary context switches of every thread: none while idle means no wake-up.
qint64 contextSwitches(qint64 pid)
{
    qint64 switches = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks + QLatin1Char('/') + task + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.contains("ctxt_switches:"))
                switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return switches;
}

bool portListening(int port)
{
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            // State 0A is LISTEN.
            if (fields.size() > 3 && fields.at(1).endsWith(local) && fields.at(3) == "0A")
                return true;
        }
    }
    return false;
}

class Bench
{
public:
    explicit Bench(int gapMs)
        : m_gapMs(gapMs)
    {
    }

    bool setUp()
    {
        return m_centre.listen() && m_board.open();
    }

    Figures measure(const Subject &subject, int count);

private:
    bool start(QProcess &process, const Subject &subject, Figures &figures);
    bool command(const QByteArray &frame, qint64 *toRequestNs, qint64 *toEchoNs);
    void pause(int ms);

    FakeMediaCentre m_centre;
    BoardPort m_board;
    int m_gapMs;
};

Figures Bench::measure(const Subject &subject, int count)
{
    Figures figures;
    QProcess process;
    if (!start(process, subject, figures)) {
        std::fprintf(stderr, "latency: the %s did not come up\n", subject.name);
        figures.lost = count;
        return figures;
    }
    const QByteArray stop = DmxOrder(CMD_STOP, 0).toBytes();
    for (int i = -warmUpCommands; i < count; ++i) {
        qint64 toRequest = 0;
        qint64 toEcho = 0;
        const bool answered = command(stop, &toRequest, &toEcho);
        if (i >= 0 && !answered)
            ++figures.lost;
        if (i >= 0 && answered) {
            figures.toRequestNs << toRequest;
            figures.toEchoNs << toEcho;
        }
        pause(m_gapMs);
    }
    const qint64 pid = process.processId();
    figures.privateDirtyKb = smapsKb(pid, "Private_Dirty");
    figures.rssKb = smapsKb(pid, "Rss");
    const qint64 before = contextSwitches(pid);
    pause(idleWindowMs);
    figures.idleSwitches = contextSwitches(pid) - before;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
    return figures;
}

bool Bench::start(QProcess &process, const Subject &subject, Figures &figures)
{
    m_board.clear();
    // What the daemon prints before its message handler is installed is of no interest here.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(subject.program, subject.arguments);
    if (!process.waitForStarted(10000))
        return false;
    if (subject.hasTcpService) {
        while (!portListening(tcpServicePort) && clock.elapsed() < 20000)
            QTest::qWait(1);
        figures.listeningMs = clock.elapsed();
    }
    return m_board.waitForFrames(subject.readyFrames, 20000);
}

// Sends one frame and waits for its request at the media centre and its echo on the board.
bool Bench::command(const QByteArray &frame, qint64 *toRequestNs, qint64 *toEchoNs)
{
    m_centre.clearRequests();
    m_board.clear();
    QEventLoop loop;
    const auto done = [&] { return *toEchoNs && *toRequestNs; };
    QObject::connect(&m_board, &BoardPort::frameReceived, &loop, [&] {
        *toEchoNs = m_centre.elapsedNs();
        if (done())
            loop.quit();
    });
    QObject::connect(&m_centre, &FakeMediaCentre::requestReceived, &loop, [&](const FakeMediaCentre::Request &request) {
        // The stand-in stamps the arrival in its own record of the request.
        if (request.method() == QLatin1String("Player.Stop"))
            *toRequestNs = m_centre.requests().last().atNs;
        if (done())
            loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    const qint64 sentNs = m_centre.elapsedNs();
    m_board.send(frame);
    loop.exec();
    if (!done())
        return false;
    *toRequestNs -= sentNs;
    *toEchoNs -= sentNs;
    return true;
}

// Keeps the event loop turning, so replies and notices are handled as they come.
void Bench::pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

Options parse(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.addOptions({{"runs", "Alternating runs.", "n", "5"},
                       {"count", "STOP frames per subject and run.", "n", "1000"},
                       {"gap-ms", "Pause between commands.", "ms", "10"},
                       {"daemon", "Daemon binary to measure.", "path", Box::daemonPath()},
                       {"reference", "Reference bridge (Python).", "path", QUORVANT_SOURCE_DIR "/bench/ref_bridge.py"}});
    parser.addHelpOption();
    parser.process(app);
    Options options;
    options.runs = std::max(1, parser.value("runs").toInt());
    options.count = std::max(1, parser.value("count").toInt());
    options.gapMs = std::max(0, parser.value("gap-ms").toInt());
    options.daemon = parser.value("daemon");
    options.reference = parser.value("reference");
    return options;
}

void printHeader(const Options &options)
{
    std::printf("STOP frame on the board -> Player.Stop at the media centre; %d runs of %d commands each, "
                "%d ms apart, reference and daemon alternating. Times in ms, memory in kB.\n",
                options.runs, options.count, options.gapMs);
    std::printf("daemon: %s\nreference: %s\n", qPrintable(options.daemon), qPrintable(options.reference));
    std::printf("%-3s %-10s | %7s %7s %6s | %7s %7s %6s | %7s %7s | %6s %6s | %6s %6s | %5s %5s | %9s | %4s\n",
                "run", "first", "ref p50", "dmn p50", "ratio", "ref p99", "dmn p99", "ratio",
                "ref echo", "dmn echo", "ref PD", "dmn PD", "refRSS", "dmnRSS", "ref", "dmn", "listen ms", "lost");
    std::printf("%-3s %-10s | %22s | %22s | %15s | %13s | %13s | %11s |\n", "", "", "", "", "p50 to echo",
                "Private_Dirty", "Rss", "idle ctxsw");
}

} // namespace

int main(int argc, char *argv[])
{
    Box::requireBox();
    QCoreApplication app(argc, argv);
    const Options options = parse(app);

    DeviceFiles::writeFile(QStringLiteral("/forcefsck"), QByteArray());
    DeviceFiles::clearStick();
    DeviceFiles::writeStickFile(QStringLiteral("a.mp4"), "media");
    DeviceFiles::writeStickConfig("channel=1\n[playlist]\nsize=1\n1\\track=a.mp4\n");

    Bench bench(options.gapMs);
    if (!bench.setUp()) {
        std::fprintf(stderr, "latency: cannot set up the media centre or the board port\n");
        return 1;
    }
    // The bridge sends the reset frame; the daemon the reset frame and then the channel.
    const Subject reference{"reference", QStringLiteral("python3"), {options.reference}, 1, false};
    const Subject daemon{"daemon", options.daemon, {}, 2, true};

    printHeader(options);
    QVector<double> p50Ratios, p99Ratios, refP50s, dmnP50s, refP99s, dmnP99s, listening;
    for (int run = 1; run <= options.runs; ++run) {
        // The order swaps every run, so a drift of the machine's speed favours neither.
        const bool referenceFirst = run % 2;
        Figures ref, dmn;
        if (referenceFirst) {
            ref = bench.measure(reference, options.count);
            dmn = bench.measure(daemon, options.count);
        } else {
            dmn = bench.measure(daemon, options.count);
            ref = bench.measure(reference, options.count);
        }
        const double refP50 = percentileMs(ref.toRequestNs, 0.5), dmnP50 = percentileMs(dmn.toRequestNs, 0.5);
        const double refP99 = percentileMs(ref.toRequestNs, 0.99), dmnP99 = percentileMs(dmn.toRequestNs, 0.99);
        p50Ratios << dmnP50 / refP50;
        p99Ratios << dmnP99 / refP99;
        refP50s << refP50;
        dmnP50s << dmnP50;
        refP99s << refP99;
        dmnP99s << dmnP99;
        listening << dmn.listeningMs;
        std::printf("%-3d %-10s | %7.3f %7.3f %6.2f | %7.3f %7.3f %6.2f | %7.3f %7.3f | %6lld %6lld | %6lld %6lld "
                    "| %5lld %5lld | %9lld | %4d\n",
                    run, referenceFirst ? "reference" : "daemon", refP50, dmnP50, dmnP50 / refP50, refP99, dmnP99,
                    dmnP99 / refP99, percentileMs(ref.toEchoNs, 0.5), percentileMs(dmn.toEchoNs, 0.5),
                    ref.privateDirtyKb, dmn.privateDirtyKb, ref.rssKb, dmn.rssKb, ref.idleSwitches,
                    dmn.idleSwitches, dmn.listeningMs, ref.lost + dmn.lost);
        std::fflush(stdout);
    }
    std::printf("median over %d runs: p50 reference %.3f, daemon %.3f, ratio %.2f; p99 reference %.3f, "
                "daemon %.3f, ratio %.2f; daemon start to listening %.0f ms\n",
                options.runs, median(refP50s), median(dmnP50s), median(p50Ratios), median(refP99s),
                median(dmnP99s), median(p99Ratios), median(listening));
    return 0;
}
