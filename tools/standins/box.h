// What a program beside the daemon needs from the box it runs in: the recorded system calls, the
// tool host's network, and the paths of the programs under test. Refuses to work outside a box.
#pragma once

#include <QHostAddress>
#include <QStringList>

class QTcpSocket;
class QUdpSocket;

namespace Box {

// Aborts the process unless it runs inside a box: the daemon under test remounts and reboots.
void requireBox();

QStringList commandLog();
void clearCommandLog();
// Exit code the stand-in for `program` (reboot, mount, systemctl, ip, vcgencmd) returns from now on.
void setExitCode(const QString &program, int code);
// The real program behind a stand-in, for tests that need it (e.g. to mount a tiny /cfg).
inline QString realProgram(const QString &program) { return "/run/quorvant-box/real/" + program; }

inline QString daemonPath() { return QStringLiteral(QUORVANT_BUILD_DIR "/quorvant"); }
inline QString ctlPath() { return QStringLiteral(QUORVANT_BUILD_DIR "/quorvant-ctl"); }
inline QString stickPath() { return QStringLiteral("/media/ZR605"); }

// The box's own address on eth0 and the tool host's address on the same LAN.
inline QHostAddress boxAddress() { return QHostAddress(QStringLiteral("192.168.77.2")); }
inline QHostAddress peerAddress() { return QHostAddress(QStringLiteral("192.168.77.1")); }

// Sockets living in the tool host's network namespace, usable from this thread like any other.
// A null result means the socket could not be made (the reason is logged).
QUdpSocket *peerUdpSocket(quint16 port, QObject *parent = nullptr);
QTcpSocket *peerTcpConnect(const QHostAddress &host, quint16 port, QObject *parent = nullptr);

} // namespace Box
