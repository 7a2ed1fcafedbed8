// Board frame -> media-centre request: the daemon against bench/ref_bridge.py, the few lines of
// Python a user might write instead. Both run in turn in the same box with the same stand-in media
// centre and board; each run measures every STOP frame from the board write to the Player.Stop
// request at the media centre and to the echo on the board, one command at a time with a pause
// between commands, as a desk sends them. Prints figures; never passes or fails on a time.
//
//   tests/box/box -- build/bench_latency [--runs 5] [--count 1000] [--gap-ms 10]
//                                        [--daemon PATH [--daemon PATH2 ...]] [--samples FILE]
//
// Per run and subject: median and p99 and their ratio to the reference in the same run, the median
// to the echo, private memory (Private_Dirty) and Rss after the commands, context switches of all
// threads over 2 s of idling afterwards (0: nothing wakes up), and the daemon's start to its
// configuration port listening. Several --daemon builds (before and after a change) are measured in
// the same runs, against the same reference, the order rotating from run to run.

#include "wire/dmxorder.h"
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
#include <QMap>
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
    QStringList daemons;
    QString reference = QStringLiteral(QUORVANT_SOURCE_DIR "/bench/ref_bridge.py");
    QString samples;
};

struct Subject {
    QString name;
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
        std::fprintf(stderr, "latency: the %s did not come up\n", qPrintable(subject.name));
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
    parser.addOptions({{"runs", "Runs; the order of the subjects rotates every run.", "n", "5"},
                       {"count", "STOP frames per subject and run.", "n", "1000"},
                       {"gap-ms", "Pause between commands.", "ms", "10"},
                       {"daemon", "Daemon binary to measure; give it again to compare builds in the same runs.",
                        "path"},
                       {"reference", "Reference bridge (Python).", "path", QUORVANT_SOURCE_DIR "/bench/ref_bridge.py"},
                       {"samples", "Also write every sample (run, subject, ns to request, ns to echo) here.", "path"}});
    parser.addHelpOption();
    parser.process(app);
    Options options;
    options.runs = std::max(1, parser.value("runs").toInt());
    options.count = std::max(1, parser.value("count").toInt());
    options.gapMs = std::max(0, parser.value("gap-ms").toInt());
    options.daemons = parser.values("daemon");
    if (options.daemons.isEmpty())
        options.daemons << Box::daemonPath();
    options.reference = parser.value("reference");
    options.samples = parser.value("samples");
    return options;
}

struct Row {
    double p50 = 0, p99 = 0, ratio50 = 0, ratio99 = 0;
};

class Report
{
public:
    explicit Report(const Options &options)
        : m_samples(options.samples)
    {
        if (!options.samples.isEmpty() && !m_samples.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::fprintf(stderr, "latency: cannot write %s\n", qPrintable(options.samples));
        std::printf("STOP frame on the board -> Player.Stop at the media centre; %d runs of %d commands each, "
                    "%d ms apart, the subjects in turn. Times in ms, memory in kB; ratio = subject / reference "
                    "in the same run.\n",
                    options.runs, options.count, options.gapMs);
        std::printf("reference: %s\n", qPrintable(options.reference));
        for (int i = 0; i < options.daemons.size(); ++i)
            std::printf("daemon%d: %s\n", i + 1, qPrintable(options.daemons.at(i)));
        std::printf("%-3s %-9s %-5s | %7s %6s | %7s %6s | %8s | %6s %6s | %5s | %9s | %4s\n", "run", "subject", "order",
                    "p50", "ratio", "p99", "ratio", "echo p50", "PD", "Rss", "idle", "listen ms", "lost");
    }

    void add(int run, int order, const QString &name, const Figures &figures, const Figures &reference)
    {
        writeSamples(run, name, figures);
        Row row;
        row.p50 = percentileMs(figures.toRequestNs, 0.5);
        row.p99 = percentileMs(figures.toRequestNs, 0.99);
        row.ratio50 = row.p50 / percentileMs(reference.toRequestNs, 0.5);
        row.ratio99 = row.p99 / percentileMs(reference.toRequestNs, 0.99);
        m_rows[name] << row;
        if (figures.listeningMs >= 0)
            m_listening[name] << figures.listeningMs;
        const QByteArray listening = figures.listeningMs < 0 ? "-" : QByteArray::number(figures.listeningMs);
        std::printf("%-3d %-9s %-5d | %7.3f %6.2f | %7.3f %6.2f | %8.3f | %6lld %6lld | %5lld | %9s | %4d\n", run,
                    qPrintable(name), order, row.p50, row.ratio50, row.p99, row.ratio99,
                    percentileMs(figures.toEchoNs, 0.5), figures.privateDirtyKb, figures.rssKb, figures.idleSwitches,
                    listening.constData(), figures.lost);
        std::fflush(stdout);
    }

    void printMedians(const QStringList &names) const
    {
        for (const QString &name : names) {
            QVector<double> p50, p99, ratio50, ratio99;
            for (const Row &row : m_rows.value(name)) {
                p50 << row.p50;
                p99 << row.p99;
                ratio50 << row.ratio50;
                ratio99 << row.ratio99;
            }
            std::printf("median over %d runs, %-9s: p50 %.3f (ratio %.2f), p99 %.3f (ratio %.2f)", int(p50.size()),
                        qPrintable(name), median(p50), median(ratio50), median(p99), median(ratio99));
            if (m_listening.contains(name))
                std::printf(", start to listening %.0f ms", median(m_listening.value(name)));
            std::printf("\n");
        }
    }

private:
    void writeSamples(int run, const QString &name, const Figures &figures)
    {
        if (!m_samples.isOpen())
            return;
        for (int i = 0; i < figures.toRequestNs.size(); ++i)
            m_samples.write(QStringLiteral("%1 %2 %3 %4\n").arg(run).arg(name).arg(figures.toRequestNs.at(i))
                                .arg(figures.toEchoNs.at(i)).toLatin1());
    }

    QFile m_samples;
    QMap<QString, QVector<Row>> m_rows;
    QMap<QString, QVector<double>> m_listening;
};

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
    QVector<Subject> subjects{{QStringLiteral("reference"), QStringLiteral("python3"), {options.reference}, 1, false}};
    for (int i = 0; i < options.daemons.size(); ++i)
        subjects.append({QStringLiteral("daemon%1").arg(i + 1), options.daemons.at(i), {}, 2, true});
    QStringList names;
    for (const Subject &subject : subjects)
        names << subject.name;

    Report report(options);
    for (int run = 1; run <= options.runs; ++run) {
        // The order rotates every run, so a drift of the machine's speed favours no subject.
        QVector<Figures> figures(subjects.size());
        QVector<int> order(subjects.size());
        for (int turn = 0; turn < subjects.size(); ++turn) {
            const int index = (turn + run - 1) % subjects.size();
            figures[index] = bench.measure(subjects.at(index), options.count);
            order[index] = turn + 1;
        }
        for (int i = 0; i < subjects.size(); ++i)
            report.add(run, order.at(i), subjects.at(i).name, figures.at(i), figures.at(0));
    }
    report.printMedians(names);
    return 0;
}
