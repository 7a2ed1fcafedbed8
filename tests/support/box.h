// What a test needs from the box it runs in: the recorded system calls, the tool host's network,
// and the paths of the programs under test. Everything here refuses to work outside a box.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QtTest/QtTest>

class QTcpSocket;
class QUdpSocket;

namespace Box {

bool inside();
// Aborts the process unless it runs inside a box: the daemon under test remounts and reboots.
void requireBox();

QStringList commandLog();
void clearCommandLog();
// Exit code the stand-in for `program` (reboot, mount, systemctl, ip, vcgencmd) returns from now on.
void setExitCode(const QString &program, int code);
// The real program behind a stand-in, for tests that need it (e.g. to mount a tiny /cfg).
QString realProgram(const QString &program);

QString daemonPath();
QString ctlPath();
QString toolPath(const QString &name);
QString stickPath();

// The box's own address on eth0 and the tool host's address on the same LAN.
QHostAddress boxAddress();
QHostAddress peerAddress();

struct RunResult {
    int exitCode = -2;
    QByteArray out;
    QByteArray err;
};
// Runs a program on the tool host (the peer network namespace) and waits for it.
RunResult runInPeer(const QString &program, const QStringList &arguments, int timeoutMs = 30000);

// Sockets living in the tool host's network namespace, usable from this thread like any other.
// A null result means the socket could not be made (the reason is logged).
QUdpSocket *peerUdpSocket(quint16 port, QObject *parent = nullptr);
QTcpSocket *peerTcpConnect(const QHostAddress &host, quint16 port, QObject *parent = nullptr);

} // namespace Box

#define QUORVANT_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        Box::requireBox();                                                                         \
        QCoreApplication app(argc, argv);                                                          \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
