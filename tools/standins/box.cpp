#include "tools/standins/box.h"

#include <QFile>
#include <QTcpSocket>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

const QString stateDir = QStringLiteral("/run/quorvant-box");

// Makes a socket on a short-lived thread that has joined the tool host's network namespace, so
// the socket belongs to that namespace while the calling thread keeps its own; then connects it
// (TCP) or binds it with broadcast allowed (UDP). Returns the descriptor, or -1.
int peerSocket(int type, quint32 ip, quint16 port)
{
    int fd = -1;
    std::thread([&] {
        const int ns = ::open(QFile::encodeName(stateDir + "/peer-netns").constData(), O_RDONLY | O_CLOEXEC);
        const bool entered = ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0;
        if (ns >= 0)
            ::close(ns);
        if (!entered || (fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0)) < 0)
            return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(ip);
        const auto *a = reinterpret_cast<const sockaddr *>(&address);
        const int on = 1;
        const bool ok = type == SOCK_STREAM
                            ? ::connect(fd, a, sizeof address) == 0
                            : ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0
                                  && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0
                                  && ::bind(fd, a, sizeof address) == 0;
        if (!ok)
            ::close(std::exchange(fd, -1));
    }).join();
    return fd;
}

} // namespace

namespace Box {

void requireBox()
{
    if (!QFile::exists(stateDir + "/marker")) {
        std::fputs("refusing to run outside the test box: run it through tests/box/box -- ...\n", stderr);
        std::abort();
    }
}

QStringList commandLog()
{
    QFile file(stateDir + "/commands.log");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
}

void clearCommandLog()
{
    QFile(stateDir + "/commands.log").open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void setExitCode(const QString &program, int code)
{
    QFile file(stateDir + "/exit/" + program);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QByteArray::number(code));
}

QUdpSocket *peerUdpSocket(quint16 port, QObject *parent)
{
    const int fd = peerSocket(SOCK_DGRAM, INADDR_ANY, port);
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
    const int fd = peerSocket(SOCK_STREAM, host.toIPv4Address(), port);
    if (fd < 0) {
        qWarning("box: cannot connect from the tool host to %s:%u", qPrintable(host.toString()), port);
        return nullptr;
    }
    auto *socket = new QTcpSocket(parent);
    socket->setSocketDescriptor(fd, QAbstractSocket::ConnectedState);
    return socket;
}

} // namespace Box
