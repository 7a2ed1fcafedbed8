#include "tests/support/box.h"

#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

const QString stateDir = QStringLiteral("/run/quorvant-box");

// Runs `make` on a short-lived thread that has joined the tool host's network namespace, so the
// socket it returns belongs to that namespace; the calling thread keeps its own.
int inPeerNamespace(const std::function<int()> &make)
{
    int result = -1;
    std::thread worker([&] {
        const int nsFd = ::open(QFile::encodeName(stateDir + "/peer-netns").constData(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0 || ::setns(nsFd, CLONE_NEWNET) != 0) {
            qWarning("box: cannot enter the tool host's network namespace");
            if (nsFd >= 0)
                ::close(nsFd);
            return;
        }
        ::close(nsFd);
        result = make();
    });
    worker.join();
    return result;
}

} // namespace

namespace Box {

bool inside()
{
    return QFile::exists(stateDir + "/marker");
}

void requireBox()
{
    if (!inside()) {
        std::fputs("refusing to run outside the test box: run it through tests/box/box -- ...\n", stderr);
        std::abort();
    }
}

QStringList commandLog()
{
    QFile file(stateDir + "/commands.log");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

void clearCommandLog()
{
    QFile file(stateDir + "/commands.log");
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void setExitCode(const QString &program, int code)
{
    QFile file(stateDir + "/exit/" + program);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QByteArray::number(code));
}

QString realProgram(const QString &program)
{
    return stateDir + "/real/" + program;
}

QString daemonPath()
{
    return toolPath(QStringLiteral("quorvant"));
}

QString ctlPath()
{
    return toolPath(QStringLiteral("quorvant-ctl"));
}

QString toolPath(const QString &name)
{
    return QStringLiteral(QUORVANT_BUILD_DIR "/") + name;
}

QString stickPath()
{
    return QStringLiteral("/media/ZR605");
}

QHostAddress boxAddress()
{
    return QHostAddress(QStringLiteral("192.168.77.2"));
}

QHostAddress peerAddress()
{
    return QHostAddress(QStringLiteral("192.168.77.1"));
}

RunResult runInPeer(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start(QStringLiteral("nsenter"),
                  QStringList{QStringLiteral("--net=") + stateDir + "/peer-netns", program} + arguments);
    RunResult result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.exitCode = -1;
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    } else {
        result.exitCode = -1;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QUdpSocket *peerUdpSocket(quint16 port, QObject *parent)
{
    const int fd = inPeerNamespace([port] {
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0)
            return -1;
        const int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(s);
            return -1;
        }
        return s;
    });
    if (fd < 0) {
        qWarning("box: cannot bind a UDP socket to port %u on the tool host", port);
        return nullptr;
    }
    auto *socket = new QUdpSocket(parent);
    socket->setSocketDescriptor(fd, QAbstractSocket::BoundState);
    return socket;
}

QTcpSocket *peerTcpConnect(const QHostAddress &host, quint16 port, QObject *parent)
{
    const quint32 ip = host.toIPv4Address();
    const int fd = inPeerNamespace([ip, port] {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0)
            return -1;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(ip);
        if (::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(s);
            return -1;
        }
        return s;
    });
    if (fd < 0) {
        qWarning("box: cannot connect from the tool host to %s:%u", qPrintable(host.toString()), port);
        return nullptr;
    }
    auto *socket = new QTcpSocket(parent);
    socket->setSocketDescriptor(fd, QAbstractSocket::ConnectedState);
    return socket;
}

} // namespace Box
